// CPU computation of Batchnorm; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/batchnorm.h"

namespace engine {
namespace simd {

class Batchnorm : public core::Batchnorm {
 public:
  using core::Batchnorm::Batchnorm;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
