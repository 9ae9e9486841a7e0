// CPU computation of Shuffle: output channel j * g + i is input channel
// i * (c / g) + j.
#pragma once

#include <vector>

#include "engine/core/shuffle.h"

namespace engine {
namespace simd {

// The shuffle of one pixel's c channels with the given group count.
void ShuffleChannels(const float* in, int c, int groups, float* out);

class Shuffle : public core::Shuffle {
 public:
  using core::Shuffle::Shuffle;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> input_;
};

}  // namespace simd
}  // namespace engine
