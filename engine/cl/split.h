// OpenCL level of Split: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/split.h"

namespace engine {
namespace cl {

class Split : public simd::Split, public Base {
 public:
  Split(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Split(desc, tensors, weights) {}
};

}  // namespace cl
}  // namespace engine
