// OpenCL level of Softmax: "softmax" over the channels of each pixel,
// reading and writing NHWC half buffers.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/softmax.h"

namespace engine {
namespace cl {

class Softmax : public DeviceLayer<simd::Softmax> {
 public:
  using DeviceLayer::DeviceLayer;

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
