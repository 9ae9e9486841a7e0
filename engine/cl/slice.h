// OpenCL level of Slice: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/slice.h"

namespace engine {
namespace cl {

class Slice : public simd::Slice, public Base {
 public:
  Slice(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Slice(desc, tensors, weights) {}
};

}  // namespace cl
}  // namespace engine
