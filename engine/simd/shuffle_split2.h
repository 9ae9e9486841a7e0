// CPU computation of ShuffleSplit2: the channel shuffle over the
// concatenated inputs, written in equal parts to the outputs.
#pragma once

#include <vector>

#include "engine/core/shuffle_split2.h"

namespace engine {
namespace simd {

class ShuffleSplit2 : public core::ShuffleSplit2 {
 public:
  using core::ShuffleSplit2::ShuffleSplit2;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> input_, shuffled_;
};

}  // namespace simd
}  // namespace engine
