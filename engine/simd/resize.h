// CPU computation of Resize; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/resize.h"

namespace engine {
namespace simd {

class Resize : public core::Resize {
 public:
  using core::Resize::Resize;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
