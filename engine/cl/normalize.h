// OpenCL level of Normalize: "normalize_kernel" turns an 8-bit input (the
// bytes on the host) into a half image; a float input runs the CPU
// computation, which passes it through.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/normalize.h"

namespace engine {
namespace cl {

class Normalize : public DeviceLayer<simd::Normalize> {
 public:
  using DeviceLayer::DeviceLayer;

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
