// OpenCL level of Concat: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/concat.h"

namespace engine {
namespace cl {

class Concat : public simd::Concat, public Base {
 public:
  Concat(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Concat(desc, tensors, weights) {}
  // The class's own answer; the kernel choice asks Base's.
  bool use_buffer_weight(opencl::clEngine* engine) override {
    return simd::Concat::use_buffer_weight(engine);
  }
};

}  // namespace cl
}  // namespace engine
