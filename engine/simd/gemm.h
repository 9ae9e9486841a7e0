// CPU computation of Gemm: out = alpha * op(W) x + beta * bias, a wide and
// a plain variant.
#pragma once

#include <vector>

#include "engine/core/gemm.h"

namespace engine {
namespace simd {

class Gemm : public core::Gemm {
 public:
  using core::Gemm::Gemm;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> input_;
};

}  // namespace simd
}  // namespace engine
