// OpenCL level of Concat: joins 2 to 4 inputs along the channels on the
// device when every input already has device memory; the first input's
// form picks image kernels ("concat2/3/4", with "_X4_2_2" and "_X2_3_3"
// for mixed counts) or half-buffer kernels ("_buf").  Otherwise the CPU
// computation runs.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/concat.h"

namespace engine {
namespace cl {

class Concat : public DeviceLayer<simd::Concat> {
 public:
  using DeviceLayer::DeviceLayer;

 private:
  bool prepare(core::RunEnv& env) override;
};

// The kernel Concat takes for input channel counts cs in the given form
// (kModeHalfImage or kModeHalfBuffer); empty when none fits.
std::string ConcatKernel(const std::vector<int>& cs, int form);

}  // namespace cl
}  // namespace engine
