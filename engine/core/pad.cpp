#include "engine/core/pad.h"

#include "engine/shape.h"

namespace engine {
namespace core {

Pad::Pad(const LayerDesc& desc, TensorMap& tensors, WeightMap&) {
  take_names(desc);
  pad_w0 = desc.params[0];
  pad_w1 = desc.params[1];
  pad_h0 = desc.params[2];
  pad_h1 = desc.params[3];
  bind_tensors(desc, tensors, 1);
}

bool Pad::reshape(RunEnv&) {
  if (!require(1, 1)) return false;
  if (pad_w0 < 0 || pad_w1 < 0 || pad_h0 < 0 || pad_h1 < 0) return fail(kErrNegativePad);
  const Tensor* in = inputs[0];
  return set_output(0, in->n, int64_t{in->h} + pad_h0 + pad_h1, int64_t{in->w} + pad_w0 + pad_w1,
                    in->c, in->layout);
}

}  // namespace core
}  // namespace engine
