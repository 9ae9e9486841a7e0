#include "engine/simd/normalize.h"

#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

// Byte inputs are converted by InputValues; float inputs already hold
// values and pass unchanged.
bool Normalize::run(core::RunEnv& env) {
  if (!core::Normalize::reshape(env)) return false;
  const Tensor* in_t = inputs[0];
  const float* in = InputValues(inputs[0], &input_, &last_error);
  if (in == nullptr) return false;
  Tensor* out = outputs[0];
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);
  const int ic = in_t->c, oc = out->c;
  const size_t pixels = out->elements() / oc;
  for (size_t p = 0; p < pixels; ++p)
    for (int k = 0; k < oc; ++k) dst[p * oc + k] = k < ic ? in[p * ic + k] : fill;
  placement = "cpu:normalize";
  return true;
}

}  // namespace simd
}  // namespace engine
