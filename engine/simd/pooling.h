// CPU computation of Pooling; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/pooling.h"

namespace engine {
namespace simd {

class Pooling : public core::Pooling {
 public:
  using core::Pooling::Pooling;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
