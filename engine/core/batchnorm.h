// Batch normalisation with four per-channel weights: scale, bias, mean,
// variance.
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

class Batchnorm : public virtual Layer {
 public:
  Batchnorm(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;

  Tensor* scale = nullptr;
  Tensor* bias = nullptr;
  Tensor* mean = nullptr;
  Tensor* variance = nullptr;
  float epsilon = 1e-5f;
};

extern const char* const kErrBatchnormWeights;  // "needs four weights of one value per channel"

}  // namespace core
}  // namespace engine
