#include "engine/simd/pad.h"

#include <algorithm>

#include "engine/registry.h"
#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

bool Pad::run(core::RunEnv& env) {
  if (!core::Pad::reshape(env)) return false;
  const Tensor* in_t = inputs[0];
  const float* in = InputValues(inputs[0], &input_, &last_error);
  if (in == nullptr) return false;
  Tensor* out = outputs[0];
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);
  std::fill(dst, dst + out->elements(), 0.f);
  const size_t row = static_cast<size_t>(in_t->w) * in_t->c;
  for (int n = 0; n < in_t->n; ++n)
    for (int y = 0; y < in_t->h; ++y) {
      const float* src = in + (static_cast<size_t>(n) * in_t->h + y) * row;
      float* d = dst + ((static_cast<size_t>(n) * out->h + y + pad_h0) * out->w + pad_w0) * out->c;
      std::copy(src, src + row, d);
    }
  placement = "cpu:pad";
  return true;
}

}  // namespace simd

OXRIN_REGISTER_LAYER("Pad", simd::Pad);

}  // namespace engine
