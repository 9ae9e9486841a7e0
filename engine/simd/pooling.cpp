#include "engine/simd/pooling.h"

#include "engine/cpu_info.h"
#include "engine/simd/vector_kernels.h"

namespace engine {
namespace simd {

bool Pooling::run(core::RunEnv& env) {
  const bool wide = use_wide_cpu_path(env);
  if (!core::Pooling::reshape(env)) return false;
  const Tensor* in_t = inputs[0];
  const float* in = InputValues(inputs[0], &input_, &last_error);
  if (in == nullptr) return false;
  Tensor* out = outputs[0];
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);
  PoolGeometry g;
  g.in_h = in_t->h;
  g.in_w = in_t->w;
  g.c = in_t->c;
  g.out_h = out->h;
  g.out_w = out->w;
  g.kernel_h = kernel_h;
  g.kernel_w = kernel_w;
  g.stride_h = stride_h;
  g.stride_w = stride_w;
  g.pad_h0 = pad_h0;
  g.pad_w0 = pad_w0;
  g.dilation_h = dilation_h;
  g.dilation_w = dilation_w;
  g.average = is_average();
  const size_t in_image = static_cast<size_t>(g.in_h) * g.in_w * g.c;
  const size_t out_image = static_cast<size_t>(g.out_h) * g.out_w * g.c;
  for (int n = 0; n < out->n; ++n)
    (wide ? PoolWide : PoolPlain)(g, in + n * in_image, dst + n * out_image);
  placement = std::string("cpu:") +
              (is_global() ? "pool_global_avg" : is_average() ? "pool_avg" : "pool_max") +
              (wide ? "_wide" : "_plain");
  return true;
}

}  // namespace simd
}  // namespace engine
