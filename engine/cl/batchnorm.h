// OpenCL level of Batchnorm: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/batchnorm.h"

namespace engine {
namespace cl {

class Batchnorm : public simd::Batchnorm, public Base {
 public:
  Batchnorm(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Batchnorm(desc, tensors, weights) {}
};

}  // namespace cl
}  // namespace engine
