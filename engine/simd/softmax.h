// CPU computation of Softmax; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/softmax.h"

namespace engine {
namespace simd {

class Softmax : public core::Softmax {
 public:
  using core::Softmax::Softmax;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
