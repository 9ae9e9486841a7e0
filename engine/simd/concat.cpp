#include "engine/simd/concat.h"

#include <algorithm>

#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

bool Concat::run(core::RunEnv& env) {
  if (!core::Concat::reshape(env)) return false;
  Tensor* out = outputs[0];
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);
  const size_t pixels = out->elements() / out->c;
  int c0 = 0;
  for (Tensor* t : inputs) {
    const float* src = InputValues(t, &input_, &last_error);
    if (src == nullptr) return false;
    const int c = t->c;
    for (size_t p = 0; p < pixels; ++p)
      std::copy(src + p * c, src + (p + 1) * c, dst + p * out->c + c0);
    c0 += c;
  }
  placement = "cpu:concat";
  return true;
}

}  // namespace simd
}  // namespace engine
