// OpenCL level of BinaryOp: the kernel chosen at preparation; shapes it
// cannot take run the CPU computation.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/binary_op.h"

namespace engine {
namespace cl {

class BinaryOp : public DeviceLayer<simd::BinaryOp> {
 public:
  using DeviceLayer::DeviceLayer;

 protected:
  bool kernel_takes_activation() const override { return true; }

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
