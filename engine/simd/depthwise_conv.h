// CPU computation of DepthwiseConv: one kernel per channel, a wide and a
// plain variant.
#pragma once

#include <vector>

#include "engine/core/depthwise_conv.h"
#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

class DepthwiseConv : public core::DepthwiseConv {
 public:
  using core::DepthwiseConv::DepthwiseConv;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> packed_, bias_, input_;
  ConvGeometry geometry_;
};

}  // namespace simd
}  // namespace engine
