#include "engine/simd/batchnorm.h"

#include <cmath>

#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

void Batchnorm::fold(int channels, std::vector<float>* factor, std::vector<float>* offset) const {
  factor->resize(channels);
  offset->resize(channels);
  for (int k = 0; k < channels; ++k) {
    (*factor)[k] = scale->host_data[k] / std::sqrt(variance->host_data[k] + epsilon);
    (*offset)[k] = bias->host_data[k] - mean->host_data[k] * (*factor)[k];
  }
}

bool Batchnorm::run(core::RunEnv& env) {
  if (!core::Batchnorm::reshape(env)) return false;
  if (scale->host_data == nullptr || bias->host_data == nullptr || mean->host_data == nullptr ||
      variance->host_data == nullptr)
    return fail(kErrNoWeightValues);
  const float* in = InputValues(inputs[0], &input_, &last_error);
  if (in == nullptr) return false;
  Tensor* out = outputs[0];
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);
  const int c = out->c;
  fold(c, &factor_, &offset_);
  const size_t pixels = out->elements() / c;
  for (size_t p = 0; p < pixels; ++p) {
    const float* s = in + p * c;
    float* d = dst + p * c;
    for (int k = 0; k < c; ++k) d[k] = s[k] * factor_[k] + offset_[k];
  }
  placement = "cpu:batchnorm";
  return true;
}

}  // namespace simd
}  // namespace engine
