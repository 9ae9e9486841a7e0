#include "engine/core/activation.h"

namespace engine {
namespace core {

const char* const kErrNoSlopes = "slopes missing or fewer than the channels";

Activation::Activation(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights) {
  take_names(desc);
  kind = desc.params[0];
  alpha = desc.alpha;
  bind_tensors(desc, tensors, 1, true);
  std::vector<Tensor*> w = find_weights(desc, weights);
  if (!w.empty()) slope = w[0];
}

bool Activation::reshape(RunEnv&) {
  if (!require(1, 1)) return false;
  const Tensor* in = inputs[0];
  if (kind == kActPRelu && (slope == nullptr || slope->elements() < static_cast<size_t>(in->c)))
    return fail(kErrNoSlopes);
  if (outputs[0] == in) return true;
  return set_output(0, in->n, in->h, in->w, in->c, in->layout);
}

}  // namespace core
}  // namespace engine
