// OpenCL level of Batchnorm: the kernel chosen at preparation; shapes it
// cannot take run the CPU computation.
#pragma once

#include <memory>

#include "engine/cl/base.h"
#include "engine/simd/batchnorm.h"

namespace engine {
namespace cl {

class Batchnorm : public DeviceLayer<simd::Batchnorm> {
 public:
  using DeviceLayer::DeviceLayer;

 protected:
  bool kernel_takes_activation() const override { return true; }

 private:
  bool prepare(core::RunEnv& env) override;
  std::unique_ptr<opencl::ClMemory> offset_mem_, factor_mem_;
};

}  // namespace cl
}  // namespace engine
