// OpenCL level of Reshape.  After an OpenCL layer on the device that
// writes an image, "image_to_buf" turns that image into an NHWC half
// buffer, whose order of values the new dimensions relabel; the buffer
// goes to the host for a host consumer, or stays for a device consumer
// that reads half buffers.  After any other producer (a CPU layer, or one
// that writes a buffer already, read back by its own run) the core
// relabelling runs on the host values.
#pragma once

#include "engine/cl/base.h"
#include "engine/core/reshape.h"

namespace engine {
namespace cl {

class Reshape : public DeviceLayer<core::Reshape> {
 public:
  using DeviceLayer::DeviceLayer;

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
