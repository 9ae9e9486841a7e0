// OpenCL level of DeConv: stride-2 transposed convolutions with an even
// kernel width on whole input texels and output widths in multiples of 4;
// everything else runs on the CPU.
#pragma once

#include <memory>

#include "engine/cl/base.h"
#include "engine/simd/deconv.h"

namespace engine {
namespace cl {

class DeConv : public DeviceLayer<simd::DeConv> {
 public:
  using DeviceLayer::DeviceLayer;

 protected:
  // The transposed kernels take no activation flag.
  bool kernel_takes_activation() const override { return false; }

 private:
  bool prepare(core::RunEnv& env) override;
  std::unique_ptr<opencl::ClMemory> weight_mem_, bias_mem_;
};

}  // namespace cl
}  // namespace engine
