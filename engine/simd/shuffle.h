// CPU computation of Shuffle; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/shuffle.h"

namespace engine {
namespace simd {

class Shuffle : public core::Shuffle {
 public:
  using core::Shuffle::Shuffle;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
