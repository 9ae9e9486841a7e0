// CPU computation of Softmax over the channels of each pixel.
#pragma once

#include <vector>

#include "engine/core/softmax.h"

namespace engine {
namespace simd {

class Softmax : public core::Softmax {
 public:
  using core::Softmax::Softmax;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> input_;
};

}  // namespace simd
}  // namespace engine
