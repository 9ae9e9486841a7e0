// CPU computation of Normalize; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/normalize.h"

namespace engine {
namespace simd {

class Normalize : public core::Normalize {
 public:
  using core::Normalize::Normalize;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
