// Depthwise convolution: one kernel per channel (weight n = channels,
// c = 1); a second input supplies the channels after the first's.
#pragma once

#include "engine/core/conv.h"

namespace engine {
namespace core {

class DepthwiseConv : public Conv {
 public:
  DepthwiseConv(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);

 protected:
  bool weight_channels(int64_t in_c, int64_t* out_c) override;
};

}  // namespace core
}  // namespace engine
