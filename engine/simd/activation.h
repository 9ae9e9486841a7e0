// CPU computation of Activation; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/activation.h"

namespace engine {
namespace simd {

class Activation : public core::Activation {
 public:
  using core::Activation::Activation;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
