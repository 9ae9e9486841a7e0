#include "engine/simd/split.h"

#include <algorithm>

#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

bool Split::run(core::RunEnv& env) {
  if (!core::Split::reshape(env)) return false;
  const Tensor* in_t = inputs[0];
  const float* in = InputValues(inputs[0], &input_, &last_error);
  if (in == nullptr) return false;
  const int c = in_t->c;
  const int part = outputs[0]->c;
  const size_t pixels = in_t->elements() / c;
  for (size_t o = 0; o < outputs.size(); ++o) {
    float* dst = outputs[o]->ensure_host();
    if (dst == nullptr) return fail(kErrNoOutputMemory);
    for (size_t p = 0; p < pixels; ++p)
      std::copy(in + p * c + o * part, in + p * c + (o + 1) * part, dst + p * part);
  }
  placement = "cpu:split";
  return true;
}

}  // namespace simd
}  // namespace engine
