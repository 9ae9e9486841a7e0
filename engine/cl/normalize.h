// OpenCL level of Normalize: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/normalize.h"

namespace engine {
namespace cl {

class Normalize : public simd::Normalize, public Base {
 public:
  Normalize(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Normalize(desc, tensors, weights) {}
};

}  // namespace cl
}  // namespace engine
