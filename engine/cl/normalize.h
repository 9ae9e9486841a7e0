// OpenCL level of Normalize: "normalize_kernel" turns an 8-bit input (the
// bytes on the host) into a half image; a float input runs the CPU
// computation, which passes it through.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/normalize.h"

namespace engine {
namespace cl {

class Normalize : public simd::Normalize, public Base {
 public:
  Normalize(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Normalize(desc, tensors, weights) {}
  bool reshape(core::RunEnv& env) override;
  bool run(core::RunEnv& env) override;

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
