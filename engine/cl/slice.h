// OpenCL level of Slice: "slice" copies a channel range of an image when
// the range keeps the whole height and width, steps by 1 and starts at a
// multiple of 4; any other range runs the CPU computation.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/slice.h"

namespace engine {
namespace cl {

class Slice : public DeviceLayer<simd::Slice> {
 public:
  using DeviceLayer::DeviceLayer;

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
