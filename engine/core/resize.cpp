#include "engine/core/resize.h"

#include <cmath>

#include "engine/shape.h"

namespace engine {
namespace core {

const char* const kErrResizeMode = "unknown resize mode";

Resize::Resize(const LayerDesc& desc, TensorMap& tensors, WeightMap&) {
  take_names(desc);
  mode = desc.params[0];
  align_corners = desc.params[1] != 0;
  scale_w = desc.alpha;
  scale_h = desc.beta;
  bind_tensors(desc, tensors, 1);
}

namespace {

// Rounded half away from zero; 0 for anything that is no usable extent.
int64_t Scaled(int32_t extent, float factor) {
  const double v = static_cast<double>(extent) * static_cast<double>(factor);
  if (!(v >= 0.5) || v > static_cast<double>(kMaxElements)) return 0;
  return static_cast<int64_t>(std::floor(v + 0.5));
}

}  // namespace

bool Resize::reshape(RunEnv&) {
  if (!require(1, 1)) return false;
  if (mode != kResizeNearest && mode != kResizeBilinear) return fail(kErrResizeMode);
  const Tensor* in = inputs[0];
  return set_output(0, in->n, Scaled(in->h, scale_h), Scaled(in->w, scale_w), in->c, in->layout);
}

}  // namespace core
}  // namespace engine
