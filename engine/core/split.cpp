#include "engine/core/split.h"

namespace engine {
namespace core {

const char* const kErrSplitParts = "outputs do not divide the channels";

Split::Split(const LayerDesc& desc, TensorMap& tensors, WeightMap&) {
  take_names(desc);
  bind_tensors(desc, tensors, 1);
}

bool Split::reshape(RunEnv&) {
  if (!require(1, 1, true)) return false;
  const Tensor* in = inputs[0];
  const int32_t parts = static_cast<int32_t>(outputs.size());
  if (in->c % parts != 0) return fail(kErrSplitParts);
  for (size_t i = 0; i < outputs.size(); ++i)
    if (!set_output(i, in->n, in->h, in->w, in->c / parts, in->layout)) return false;
  return true;
}

}  // namespace core
}  // namespace engine
