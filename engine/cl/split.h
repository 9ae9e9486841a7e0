// OpenCL level of Split: two outputs whose channel count is a multiple of
// 4 take "split_2" on images; any other split runs the CPU computation.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/split.h"

namespace engine {
namespace cl {

class Split : public DeviceLayer<simd::Split> {
 public:
  using DeviceLayer::DeviceLayer;

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
