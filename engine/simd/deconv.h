// CPU computation of DeConv (transposed convolution): each output pixel
// gathers the input pixels whose stride-spaced windows cover it, through
// the dense kernel of the path chosen at run time (conv_kernels.h), with
// weights packed once for it, each image of the batch in turn.
#pragma once

#include "engine/core/deconv.h"
#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

class DeConv : public core::DeConv, public ConvLevelState {
 public:
  using core::DeConv::DeConv;
  // Placement "cpu:deconv_" and the path's name; a following ReLU, capped
  // ReLU or leaky ReLU is applied in the store.  Weights are packed on the
  // first run and again only as PackedWeights states.
  bool run(core::RunEnv& env) override;
};

}  // namespace simd
}  // namespace engine
