// OpenCL level of DeConv: stride-2 transposed convolutions with an even
// kernel width on whole input texels and output widths in multiples of 4;
// everything else runs on the CPU.
#pragma once

#include <memory>

#include "engine/cl/base.h"
#include "engine/simd/deconv.h"

namespace engine {
namespace cl {

class DeConv : public simd::DeConv, public Base {
 public:
  DeConv(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::DeConv(desc, tensors, weights) {}
  // The class's own answer; the kernel choice asks Base's.
  bool use_buffer_weight(opencl::clEngine* engine) override {
    return simd::DeConv::use_buffer_weight(engine);
  }
  bool reshape(core::RunEnv& env) override;
  bool run(core::RunEnv& env) override;

 protected:
  // The transposed kernels take no activation flag.
  bool kernel_takes_activation() const override { return false; }

 private:
  bool prepare(core::RunEnv& env) override;
  std::unique_ptr<opencl::ClMemory> weight_mem_, bias_mem_;
};

}  // namespace cl
}  // namespace engine
