// CPU computation of Batchnorm: per-channel factor and offset folded from
// scale, bias, mean and variance, then out = in * factor + offset.
#pragma once

#include <vector>

#include "engine/core/batchnorm.h"

namespace engine {
namespace simd {

class Batchnorm : public core::Batchnorm {
 public:
  using core::Batchnorm::Batchnorm;
  bool run(core::RunEnv& env) override;

 protected:
  // factor = scale / sqrt(variance + epsilon), offset = bias - mean *
  // factor, for the first channels values: out = in * factor + offset.
  void fold(int channels, std::vector<float>* factor, std::vector<float>* offset) const;

 private:
  std::vector<float> input_, factor_, offset_;
};

}  // namespace simd
}  // namespace engine
