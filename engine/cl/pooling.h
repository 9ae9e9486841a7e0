// OpenCL level of Pooling: the kernel chosen at preparation; shapes it
// cannot take run the CPU computation.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/pooling.h"

namespace engine {
namespace cl {

class Pooling : public simd::Pooling, public Base {
 public:
  Pooling(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Pooling(desc, tensors, weights) {}
  bool reshape(core::RunEnv& env) override;
  bool run(core::RunEnv& env) override;

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
