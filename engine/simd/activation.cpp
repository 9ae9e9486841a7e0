#include "engine/simd/activation.h"

#include <algorithm>
#include <cmath>

#include "engine/cpu_info.h"
#include "engine/registry.h"
#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

bool Activation::run(core::RunEnv& env) {
  cpu_info();
  if (!core::Activation::reshape(env)) return false;
  Tensor* in = inputs[0];
  Tensor* out = outputs[0];
  if (in == out && fused) {
    fused = false;
    placement = "cpu:folded";
    return true;
  }
  // In place the values must already be floats; otherwise bytes convert.
  const float* src = in == out ? in->host_data : InputValues(in, &input_, &last_error);
  if (src == nullptr) return fail(kErrNoInputValues);
  float* dst = in == out ? in->host_data : out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);
  const size_t count = in->elements();
  const int c = std::max(in->c, 1);
  const float a = alpha;
  switch (kind) {
    case kActRelu:
      for (size_t i = 0; i < count; ++i) dst[i] = std::max(src[i], 0.f);
      break;
    case kActRelu6:
      for (size_t i = 0; i < count; ++i) dst[i] = std::max(std::min(src[i], a), 0.f);
      break;
    case kActPRelu:
      if (slope == nullptr || slope->host_data == nullptr) return fail(core::kErrNoSlopes);
      for (size_t i = 0; i < count; ++i) {
        const float x = src[i];
        dst[i] = x < 0.f ? x * slope->host_data[i % c] : x;
      }
      break;
    case kActTanh:
      for (size_t i = 0; i < count; ++i) dst[i] = std::tanh(src[i]);
      break;
    case kActSigmoid:
      for (size_t i = 0; i < count; ++i) dst[i] = 1.f / (1.f + std::exp(-src[i]));
      break;
    case kActLeakyRelu:
      for (size_t i = 0; i < count; ++i) dst[i] = src[i] < 0.f ? src[i] * a : src[i];
      break;
    default:
      if (dst != src) std::copy(src, src + count, dst);
      break;
  }
  placement = "cpu:activation";
  return true;
}

}  // namespace simd

OXRIN_REGISTER_LAYER("Activation", simd::Activation);
OXRIN_REGISTER_LAYER("LeakyRelu", simd::Activation);
OXRIN_REGISTER_LAYER("Relu", simd::Activation);
OXRIN_REGISTER_LAYER("Sigmoid", simd::Activation);

}  // namespace engine
