// OpenCL level of Conv: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/conv.h"

namespace engine {
namespace cl {

class Conv : public simd::Conv, public Base {
 public:
  Conv(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Conv(desc, tensors, weights) {}
  // The class's own answer; the kernel choice asks Base's.
  bool use_buffer_weight(opencl::clEngine* engine) override {
    return simd::Conv::use_buffer_weight(engine);
  }
};

}  // namespace cl
}  // namespace engine
