// CPU computation of Slice; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/slice.h"

namespace engine {
namespace simd {

class Slice : public core::Slice {
 public:
  using core::Slice::Slice;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
