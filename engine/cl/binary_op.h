// OpenCL level of BinaryOp: the kernel chosen at preparation; shapes it
// cannot take run the CPU computation.
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
  bool reshape(core::RunEnv& env) override;
  bool run(core::RunEnv& env) override;

 protected:
  bool kernel_takes_activation() const override { return true; }

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
