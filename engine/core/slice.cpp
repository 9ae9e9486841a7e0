#include "engine/core/slice.h"

#include <algorithm>

namespace engine {
namespace core {

const char* const kErrSliceStep = "slice step below 1";
const char* const kErrSliceRange = "slice range empty or outside the input";

Slice::Slice(const LayerDesc& desc, TensorMap& tensors, WeightMap&) {
  take_names(desc);
  for (int a = 0; a < 3; ++a) {
    start[a] = desc.params[3 * a];
    end[a] = desc.params[3 * a + 1];
    step[a] = desc.params[3 * a + 2];
  }
  bind_tensors(desc, tensors, 1);
}

bool Slice::reshape(RunEnv&) {
  if (!require(1, 1)) return false;
  const Tensor* in = inputs[0];
  const int32_t extent[3] = {in->h, in->w, in->c};
  int64_t size[3];
  for (int a = 0; a < 3; ++a) {
    int32_t s = start[a], e = end[a], st = step[a];
    if (s == -1) {
      s = 0;
      e = extent[a];
      st = 1;
    }
    if (st < 1) return fail(kErrSliceStep);
    e = std::min(e, extent[a]);
    if (s < 0 || s >= e) return fail(kErrSliceRange);
    from[a] = s;
    to[a] = e;
    by[a] = st;
    size[a] = (int64_t{e} - s + st - 1) / st;
  }
  return set_output(0, in->n, size[kH], size[kW], size[kC], in->layout);
}

}  // namespace core
}  // namespace engine
