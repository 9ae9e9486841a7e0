// OpenCL level of Softmax: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/softmax.h"

namespace engine {
namespace cl {

class Softmax : public simd::Softmax, public Base {
 public:
  Softmax(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Softmax(desc, tensors, weights) {}
};

}  // namespace cl
}  // namespace engine
