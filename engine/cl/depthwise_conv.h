// OpenCL level of DepthwiseConv: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/depthwise_conv.h"

namespace engine {
namespace cl {

class DepthwiseConv : public simd::DepthwiseConv, public Base {
 public:
  DepthwiseConv(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::DepthwiseConv(desc, tensors, weights) {}
  // The class's own answer; the kernel choice asks Base's.
  bool use_buffer_weight(opencl::clEngine* engine) override {
    return simd::DepthwiseConv::use_buffer_weight(engine);
  }
};

}  // namespace cl
}  // namespace engine
