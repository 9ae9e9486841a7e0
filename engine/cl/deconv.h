// OpenCL level of DeConv: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/deconv.h"

namespace engine {
namespace cl {

class DeConv : public simd::DeConv, public Base {
 public:
  DeConv(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::DeConv(desc, tensors, weights) {}
  // The class's own answer; the kernel choice asks Base's.
  bool use_buffer_weight(opencl::clEngine* engine) override {
    return simd::DeConv::use_buffer_weight(engine);
  }
};

}  // namespace cl
}  // namespace engine
