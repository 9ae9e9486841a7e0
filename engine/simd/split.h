// CPU computation of Split; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/split.h"

namespace engine {
namespace simd {

class Split : public core::Split {
 public:
  using core::Split::Split;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
