#include "engine/simd/shuffle.h"

#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

// One pixel: output channel j * groups + i is input channel i * (c /
// groups) + j.
void ShuffleChannels(const float* in, int c, int groups, float* out) {
  const int per = c / groups;
  for (int i = 0; i < groups; ++i)
    for (int j = 0; j < per; ++j) out[j * groups + i] = in[i * per + j];
}

bool Shuffle::run(core::RunEnv& env) {
  if (!core::Shuffle::reshape(env)) return false;
  const float* in = InputValues(inputs[0], &input_, &last_error);
  if (in == nullptr) return false;
  Tensor* out = outputs[0];
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);
  const int c = out->c;
  const size_t pixels = out->elements() / c;
  for (size_t p = 0; p < pixels; ++p) ShuffleChannels(in + p * c, c, groups, dst + p * c);
  placement = "cpu:shuffle";
  return true;
}

}  // namespace simd
}  // namespace engine
