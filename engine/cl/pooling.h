// OpenCL level of Pooling: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/pooling.h"

namespace engine {
namespace cl {

class Pooling : public simd::Pooling, public Base {
 public:
  Pooling(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Pooling(desc, tensors, weights) {}
};

}  // namespace cl
}  // namespace engine
