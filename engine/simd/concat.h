// CPU computation of Concat; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/concat.h"

namespace engine {
namespace simd {

class Concat : public core::Concat {
 public:
  using core::Concat::Concat;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
