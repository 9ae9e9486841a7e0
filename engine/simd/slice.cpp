#include "engine/simd/slice.h"

#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

bool Slice::run(core::RunEnv& env) {
  if (!core::Slice::reshape(env)) return false;
  const Tensor* in_t = inputs[0];
  const float* in = InputValues(inputs[0], &input_, &last_error);
  if (in == nullptr) return false;
  Tensor* out = outputs[0];
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);
  for (int n = 0; n < out->n; ++n)
    for (int y = 0; y < out->h; ++y) {
      const int iy = from[kH] + y * by[kH];
      for (int x = 0; x < out->w; ++x) {
        const int ix = from[kW] + x * by[kW];
        const float* s =
            in + ((static_cast<size_t>(n) * in_t->h + iy) * in_t->w + ix) * in_t->c + from[kC];
        for (int k = 0; k < out->c; ++k) *dst++ = s[static_cast<size_t>(k) * by[kC]];
      }
    }
  placement = "cpu:slice";
  return true;
}

}  // namespace simd
}  // namespace engine
