#include "engine/core/softmax.h"

namespace engine {
namespace core {

Softmax::Softmax(const LayerDesc& desc, TensorMap& tensors, WeightMap&) {
  take_names(desc);
  bind_tensors(desc, tensors, 1);
}

bool Softmax::reshape(RunEnv&) {
  if (!require(1, 1)) return false;
  const Tensor* in = inputs[0];
  return set_output(0, in->n, in->h, in->w, in->c, in->layout);
}

}  // namespace core
}  // namespace engine
