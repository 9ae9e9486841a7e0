// CPU computation of the activations: the kind table applied to every
// value, or nothing when a preceding convolution already applied it.
#pragma once

#include <vector>

#include "engine/core/activation.h"

namespace engine {
namespace simd {

class Activation : public core::Activation {
 public:
  using core::Activation::Activation;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> input_;
};

}  // namespace simd
}  // namespace engine
