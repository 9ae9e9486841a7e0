// OpenCL level of BinaryOp: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/binary_op.h"

namespace engine {
namespace cl {

class BinaryOp : public simd::BinaryOp, public Base {
 public:
  BinaryOp(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::BinaryOp(desc, tensors, weights) {}
  // The class's own answer; the kernel choice asks Base's.
  bool use_buffer_weight(opencl::clEngine* engine) override {
    return simd::BinaryOp::use_buffer_weight(engine);
  }
};

}  // namespace cl
}  // namespace engine
