// OpenCL level of ShuffleSplit2: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/shuffle_split2.h"

namespace engine {
namespace cl {

class ShuffleSplit2 : public simd::ShuffleSplit2, public Base {
 public:
  ShuffleSplit2(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::ShuffleSplit2(desc, tensors, weights) {}
};

}  // namespace cl
}  // namespace engine
