// CPU computation of Conv; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/conv.h"

namespace engine {
namespace simd {

class Conv : public core::Conv {
 public:
  using core::Conv::Conv;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
