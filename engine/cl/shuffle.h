// OpenCL level of Shuffle: on images with a channel count that is a
// multiple of 8, c / 2 groups take "shuffle_half" and 2 groups
// "shuffle_2"; other group counts run the CPU computation.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/shuffle.h"

namespace engine {
namespace cl {

class Shuffle : public DeviceLayer<simd::Shuffle> {
 public:
  using DeviceLayer::DeviceLayer;

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
