#include "engine/core/reshape.h"

namespace engine {
namespace core {

const char* const kErrReshapeOpen = "more than one open dimension";
const char* const kErrReshapeCount = "element count differs";
const char* const kErrReshapeNoValues = "the input holds no float values";

Reshape::Reshape(const LayerDesc& desc, TensorMap& tensors, WeightMap&) {
  take_names(desc);
  for (int i = 0; i < 4; ++i) target[i] = desc.params[i];
  bind_tensors(desc, tensors, 1);
}

bool Reshape::reshape(RunEnv&) {
  if (!require(1, 1)) return false;
  const int64_t count = static_cast<int64_t>(inputs[0]->elements());
  int64_t d[4];
  int open = -1;
  int64_t known = 1;
  for (int i = 0; i < 4; ++i) {
    d[i] = target[i];
    if (d[i] < 1) {
      if (open >= 0) return fail(kErrReshapeOpen);
      open = i;
    } else {
      known *= d[i];
      if (known > count) return fail(kErrReshapeCount);
    }
  }
  if (open >= 0) {
    if (count % known != 0) return fail(kErrReshapeCount);
    d[open] = count / known;
  } else if (known != count) {
    return fail(kErrReshapeCount);
  }
  return set_output(0, d[0], d[1], d[2], d[3], kLayoutNhwc);
}

bool Reshape::run(RunEnv& env) {
  if (!Reshape::reshape(env)) return false;
  if (inputs[0]->host_data == nullptr) return fail(kErrReshapeNoValues);
  outputs[0]->borrow_host(*inputs[0]);
  placement = "cpu:relabel";
  return true;
}

}  // namespace core
}  // namespace engine
