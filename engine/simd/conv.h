// CPU computation of Conv: the kernel choice by shape and processor, and
// the run through the shared convolution kernels.
#pragma once

#include <string>
#include <vector>

#include "engine/core/conv.h"
#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

// The CPU kernel a convolution takes, by the first matching rule.
struct ConvChoice {
  const char* kernel;  // e.g. "conv1x1_large"
  bool folds;          // applies a following in-place activation in its store
};

// wide: the AVX+FMA path applies; generic: the run environment asks for
// the plain paths.
ConvChoice ChooseConvKernel(int kernel_w, int kernel_h, int stride_w, int stride_h,
                            int dilation_w, int dilation_h, int pad_w0, int in_c, int out_c,
                            bool wide, bool generic);

class Conv : public core::Conv {
 public:
  using core::Conv::Conv;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> packed_, bias_, input_;
  ConvGeometry geometry_;
};

}  // namespace simd
}  // namespace engine
