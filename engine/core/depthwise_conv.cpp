#include "engine/core/depthwise_conv.h"

#include "engine/shape.h"

namespace engine {
namespace core {

DepthwiseConv::DepthwiseConv(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
    : Conv(desc, tensors, weights) {}

bool DepthwiseConv::weight_channels(int64_t in_c, int64_t* out_c) {
  if (weight->c != 1 || weight->n != in_c) return fail(kErrWeightShape);
  *out_c = in_c;
  return true;
}

}  // namespace core
}  // namespace engine
