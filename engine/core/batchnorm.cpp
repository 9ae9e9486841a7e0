#include "engine/core/batchnorm.h"

namespace engine {
namespace core {

const char* const kErrBatchnormWeights = "needs four weights of one value per channel";

// Below this alpha is taken as unset.
constexpr float kEpsilonUnset = 1e-12f;
constexpr float kEpsilonDefault = 1e-5f;

Batchnorm::Batchnorm(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights) {
  take_names(desc);
  epsilon = desc.alpha <= kEpsilonUnset ? kEpsilonDefault : desc.alpha;
  bind_tensors(desc, tensors, 1);
  std::vector<Tensor*> w = find_weights(desc, weights);
  if (w.size() >= 4) {
    scale = w[0];
    bias = w[1];
    mean = w[2];
    variance = w[3];
  }
}

bool Batchnorm::reshape(RunEnv&) {
  if (!require(1, 1)) return false;
  const Tensor* in = inputs[0];
  const size_t c = static_cast<size_t>(in->c);
  if (scale == nullptr || scale->elements() < c || bias->elements() < c ||
      mean->elements() < c || variance->elements() < c)
    return fail(kErrBatchnormWeights);
  return set_output(0, in->n, in->h, in->w, in->c, in->layout);
}

}  // namespace core
}  // namespace engine
