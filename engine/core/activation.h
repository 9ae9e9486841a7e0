// Elementwise activations; the kind comes from params 0.
#pragma once

#include "engine/layer.h"

namespace engine {

enum ActivationKind : int32_t {
  kActCopy = 0,
  kActRelu = 1,
  kActRelu6 = 2,    // max(min(x, alpha), 0)
  kActPRelu = 3,    // per-channel slopes from the weight
  kActTanh = 4,
  kActSigmoid = 5,
  kActLeakyRelu = 6,  // slope alpha
};

namespace core {

class Activation : public virtual Layer {
 public:
  Activation(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;

  int32_t kind = kActCopy;
  float alpha = 0.f;
  Tensor* slope = nullptr;
};

extern const char* const kErrNoSlopes;  // "slopes missing or fewer than the channels"

}  // namespace core
}  // namespace engine
