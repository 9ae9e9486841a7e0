// CPU computation of ShuffleSplit2; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/shuffle_split2.h"

namespace engine {
namespace simd {

class ShuffleSplit2 : public core::ShuffleSplit2 {
 public:
  using core::ShuffleSplit2::ShuffleSplit2;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
