// OpenCL level of Resize: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/resize.h"

namespace engine {
namespace cl {

class Resize : public simd::Resize, public Base {
 public:
  Resize(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Resize(desc, tensors, weights) {}
};

}  // namespace cl
}  // namespace engine
