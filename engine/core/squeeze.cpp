#include "engine/core/squeeze.h"

#include "engine/registry.h"

namespace engine {
namespace core {

const char* const kErrSqueezeNoValues = "the input holds no values";

Squeeze::Squeeze(const LayerDesc& desc, TensorMap& tensors, WeightMap&) {
  take_names(desc);
  bind_tensors(desc, tensors, 1);
}

bool Squeeze::reshape(RunEnv&) {
  if (!require(1, 1)) return false;
  const Tensor* in = inputs[0];
  return set_output(0, in->n, in->h, in->w, in->c, kLayoutNhwc);
}

bool Squeeze::run(RunEnv& env) {
  if (!Squeeze::reshape(env)) return false;
  if (inputs[0]->host_data == nullptr && inputs[0]->host_half == nullptr)
    return fail(kErrSqueezeNoValues);
  outputs[0]->borrow_host(*inputs[0]);
  placement = "cpu:relabel";
  return true;
}

}  // namespace core

OXRIN_REGISTER_LAYER("Squeeze", ref::Squeeze);

}  // namespace engine
