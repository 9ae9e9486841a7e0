// OpenCL level of Split: two outputs whose channel count is a multiple of
// 4 take "split_2" on images; any other split runs the CPU computation.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/split.h"

namespace engine {
namespace cl {

class Split : public simd::Split, public Base {
 public:
  Split(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Split(desc, tensors, weights) {}
  bool reshape(core::RunEnv& env) override;
  bool run(core::RunEnv& env) override;

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
