#include "engine/core/normalize.h"

namespace engine {
namespace core {

const char* const kErrNormalizeChannels = "input 1 to 3 channels, output up to 4";

Normalize::Normalize(const LayerDesc& desc, TensorMap& tensors, WeightMap&) {
  take_names(desc);
  out_channels = desc.params[0];
  fill = desc.alpha;
  bind_tensors(desc, tensors, 1);
}

bool Normalize::reshape(RunEnv&) {
  if (!require(1, 1)) return false;
  const Tensor* in = inputs[0];
  const int32_t oc = out_channels > 0 ? out_channels : in->c;
  if (in->c > 3 || oc < in->c || oc > 4) return fail(kErrNormalizeChannels);
  return set_output(0, in->n, in->h, in->w, oc, in->layout);
}

}  // namespace core
}  // namespace engine
