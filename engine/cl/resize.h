// OpenCL level of Resize: the kernel chosen at preparation; shapes it
// cannot take run the CPU computation.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/resize.h"

namespace engine {
namespace cl {

class Resize : public simd::Resize, public Base {
 public:
  Resize(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Resize(desc, tensors, weights) {}
  bool reshape(core::RunEnv& env) override;
  bool run(core::RunEnv& env) override;

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
