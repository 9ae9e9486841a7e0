// OpenCL level of Softmax: "softmax" over the channels of each pixel,
// reading and writing NHWC half buffers.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/softmax.h"

namespace engine {
namespace cl {

class Softmax : public simd::Softmax, public Base {
 public:
  Softmax(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Softmax(desc, tensors, weights) {}
  bool reshape(core::RunEnv& env) override;
  bool run(core::RunEnv& env) override;

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
