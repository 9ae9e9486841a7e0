// CPU computation of Conv: the path chosen at run time (conv_kernels.h),
// the weights packed once for it, each image of the batch in turn.
#pragma once

#include "engine/core/conv.h"
#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

class Conv : public core::Conv, public ConvLevelState {
 public:
  using core::Conv::Conv;
  // Computes on the path ChooseConvPath gives (placement "cpu:conv_" and
  // the path's name), applying a following ReLU, capped ReLU or leaky ReLU
  // in its store.  Weights are packed on the first run and again only as
  // PackedWeights states.
  bool run(core::RunEnv& env) override;
};

}  // namespace simd
}  // namespace engine
