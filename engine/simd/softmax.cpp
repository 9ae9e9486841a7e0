#include "engine/simd/softmax.h"

#include <algorithm>
#include <cmath>

#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

bool Softmax::run(core::RunEnv& env) {
  if (!core::Softmax::reshape(env)) return false;
  const float* in = InputValues(inputs[0], &input_, &last_error);
  if (in == nullptr) return false;
  Tensor* out = outputs[0];
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);
  const int c = out->c;
  const size_t pixels = out->elements() / c;
  if (c == 3) {
    // The common three-class form, unrolled.
    for (size_t p = 0; p < pixels; ++p) {
      const float* s = in + p * 3;
      const float m = std::max(std::max(s[0], s[1]), s[2]);
      const float e0 = std::exp(s[0] - m), e1 = std::exp(s[1] - m), e2 = std::exp(s[2] - m);
      const float inv = 1.f / (e0 + e1 + e2);
      dst[p * 3] = e0 * inv;
      dst[p * 3 + 1] = e1 * inv;
      dst[p * 3 + 2] = e2 * inv;
    }
    placement = "cpu:softmax3";
    return true;
  }
  for (size_t p = 0; p < pixels; ++p) {
    const float* s = in + p * c;
    float* d = dst + p * c;
    const float m = *std::max_element(s, s + c);
    float sum = 0.f;
    for (int k = 0; k < c; ++k) {
      d[k] = std::exp(s[k] - m);
      sum += d[k];
    }
    const float inv = 1.f / sum;
    for (int k = 0; k < c; ++k) d[k] *= inv;
  }
  placement = "cpu:softmax";
  return true;
}

}  // namespace simd
}  // namespace engine
