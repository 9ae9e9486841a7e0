// CPU computation of DepthwiseConv; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/depthwise_conv.h"

namespace engine {
namespace simd {

class DepthwiseConv : public core::DepthwiseConv {
 public:
  using core::DepthwiseConv::DepthwiseConv;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
