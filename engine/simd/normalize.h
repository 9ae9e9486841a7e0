// CPU computation of Normalize: byte values become (x - mean[k]) *
// scale[k]; output channels past the input's get the fill value.
#pragma once

#include <vector>

#include "engine/core/normalize.h"

namespace engine {
namespace simd {

class Normalize : public core::Normalize {
 public:
  using core::Normalize::Normalize;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> input_;
};

}  // namespace simd
}  // namespace engine
