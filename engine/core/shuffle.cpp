#include "engine/core/shuffle.h"

namespace engine {
namespace core {

const char* const kErrGroups = "group count does not divide the channels";

Shuffle::Shuffle(const LayerDesc& desc, TensorMap& tensors, WeightMap&) {
  take_names(desc);
  groups = desc.params[0];
  bind_tensors(desc, tensors, 1);
}

bool Shuffle::reshape(RunEnv&) {
  if (!require(1, 1)) return false;
  const Tensor* in = inputs[0];
  if (groups < 1 || in->c % groups != 0) return fail(kErrGroups);
  return set_output(0, in->n, in->h, in->w, in->c, in->layout);
}

}  // namespace core
}  // namespace engine
