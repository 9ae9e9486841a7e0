// OpenCL level of Shuffle: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/shuffle.h"

namespace engine {
namespace cl {

class Shuffle : public simd::Shuffle, public Base {
 public:
  Shuffle(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Shuffle(desc, tensors, weights) {}
};

}  // namespace cl
}  // namespace engine
