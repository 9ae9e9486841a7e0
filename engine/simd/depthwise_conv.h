// CPU computation of DepthwiseConv: one kernel per channel, on the path
// chosen at run time (conv_kernels.h), weights packed once for it, each
// image of the batch in turn.
#pragma once

#include "engine/core/depthwise_conv.h"
#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

class DepthwiseConv : public core::DepthwiseConv, public ConvLevelState {
 public:
  using core::DepthwiseConv::DepthwiseConv;
  // Placement "cpu:depthwise_" and the path's name; a following ReLU,
  // capped ReLU or leaky ReLU is applied in the store.  Weights are packed
  // on the first run and again only as PackedWeights states.
  bool run(core::RunEnv& env) override;
};

}  // namespace simd
}  // namespace engine
