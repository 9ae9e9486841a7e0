// CPU computation of DeConv (transposed convolution): each output pixel
// gathers the input pixels whose stride-spaced windows cover it; a wide
// and a plain variant.
#pragma once

#include <vector>

#include "engine/core/deconv.h"
#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

class DeConv : public core::DeConv {
 public:
  using core::DeConv::DeConv;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> packed_, bias_, input_;
  ConvGeometry geometry_;
};

}  // namespace simd
}  // namespace engine
