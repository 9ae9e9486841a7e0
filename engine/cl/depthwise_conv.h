// OpenCL level of DepthwiseConv: the 3x3 kernels for a leading padding of
// one at stride 1 or 2 (and the two-input 3x3 stride-1 form), the general
// kernel otherwise; channel counts that are no multiple of 4, dilations and
// byte inputs run on the CPU.
#pragma once

#include <memory>

#include "engine/cl/base.h"
#include "engine/simd/depthwise_conv.h"

namespace engine {
namespace cl {

class DepthwiseConv : public DeviceLayer<simd::DepthwiseConv> {
 public:
  using DeviceLayer::DeviceLayer;

 protected:
  bool kernel_takes_activation() const override { return true; }

 private:
  bool prepare(core::RunEnv& env) override;
  std::unique_ptr<opencl::ClMemory> weight_mem_, bias_mem_;
};

// The packed 32-bit argument of the 3x3 depthwise kernels: output channels
// from bit 18, output width in bits 4 to 17, activation flag in bits 0 to 3.
int32_t PackDepthwiseParas(int out_c, int out_w, int activation_flag);

}  // namespace cl
}  // namespace engine
