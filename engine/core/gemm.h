// Matrix-vector product out = alpha op(W) x + beta bias, op(W) = W or, with
// trans_b, its transpose; W's rows are its n, its columns h*w*c.  alpha and
// beta come from the description when its factors_set says so, else both
// are 1.
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

class Gemm : public virtual Layer {
 public:
  Gemm(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;

  Tensor* weight = nullptr;
  Tensor* bias = nullptr;  // optional
  int32_t trans_a = 0;
  int32_t trans_b = 0;
  float alpha = 1.f;
  float beta = 1.f;
  // From the last reshape: input length K and output length N.
  int64_t length_in = 0;
  int64_t length_out = 0;
};

extern const char* const kErrGemmNotVector;  // "input is not a vector"
extern const char* const kErrGemmExtents;    // "weight extents disagree with the input"

}  // namespace core
}  // namespace engine
