// OpenCL level of Resize: the kernel chosen at preparation; shapes it
// cannot take run the CPU computation.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/resize.h"

namespace engine {
namespace cl {

class Resize : public DeviceLayer<simd::Resize> {
 public:
  using DeviceLayer::DeviceLayer;

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
