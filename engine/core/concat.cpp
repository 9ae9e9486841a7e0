#include "engine/core/concat.h"

#include "engine/shape.h"

namespace engine {
namespace core {

const char* const kErrConcatInputs = "needs at least two inputs";

Concat::Concat(const LayerDesc& desc, TensorMap& tensors, WeightMap&) {
  take_names(desc);
  bind_tensors(desc, tensors, -1);
}

bool Concat::use_buffer_weight(opencl::clEngine*) { return true; }

bool Concat::reshape(RunEnv&) {
  if (!require(1, 1)) return false;
  if (inputs.size() < 2) return fail(kErrConcatInputs);
  const Tensor* a = inputs[0];
  int64_t c = 0;
  for (const Tensor* t : inputs) {
    if (t->n != a->n || t->h != a->h || t->w != a->w) return fail(kErrInputsDisagree);
    c += t->c;
  }
  return set_output(0, a->n, a->h, a->w, c, a->layout);
}

}  // namespace core
}  // namespace engine
