#include "engine/core/shuffle_split2.h"

#include <algorithm>

#include "engine/core/shuffle.h"
#include "engine/shape.h"

namespace engine {
namespace core {

const char* const kErrShuffleSplitForm = "takes one or two inputs and outputs";

ShuffleSplit2::ShuffleSplit2(const LayerDesc& desc, TensorMap& tensors, WeightMap&) {
  take_names(desc);
  groups = desc.params[0];
  bind_tensors(desc, tensors, std::min(2, tensor_count(desc) - 1));
}

bool ShuffleSplit2::reshape(RunEnv&) {
  if (!require(1, 1, true)) return false;
  if (inputs.size() > 2 || outputs.size() > 2) return fail(kErrShuffleSplitForm);
  const Tensor* a = inputs[0];
  int64_t total = 0;
  for (const Tensor* t : inputs) {
    if (t->n != a->n || t->h != a->h || t->w != a->w) return fail(kErrInputsDisagree);
    total += t->c;
  }
  const int64_t parts = static_cast<int64_t>(outputs.size());
  if (groups < 1 || total % groups != 0 || total % parts != 0) return fail(kErrGroups);
  for (size_t i = 0; i < outputs.size(); ++i)
    if (!set_output(i, a->n, a->h, a->w, total / parts, a->layout)) return false;
  return true;
}

}  // namespace core
}  // namespace engine
