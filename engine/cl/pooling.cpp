#include "engine/cl/pooling.h"

#include "engine/registry.h"

namespace engine {
namespace cl {

namespace {
constexpr int kGlobalPoolingMaxChannels = 64;  // 16 channel groups of local memory
}  // namespace

bool Pooling::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  const Tensor* in = inputs[0];
  const Tensor* out = outputs[0];
  // The kernels take no dilation and write whole channel groups.
  if (!images_fit(engine) || out->c % 4 != 0 || dilation_w != 1 || dilation_h != 1) return false;
  if (!FitsShort({in->w, in->h, out->c, out->w, kernel_w, kernel_h, pad_w0, pad_h0, stride_w,
                  stride_h}))
    return false;
  const bool global_kernel = is_global() && in->c <= kGlobalPoolingMaxChannels && in->w % 4 == 0 &&
                             in->h % 4 == 0;
  const char* chosen = global_kernel ? "global_pooling_avg"
                                     : (is_average() ? "pooling_avg" : "pooling_max");
  int a = start_kernel(engine, chosen);
  if (a < 0) return false;
  const size_t groups = static_cast<size_t>((out->c + 3) / 4);
  if (global_kernel) {
    for (int v : {in->c, in->w, in->h}) kernel.SetArgShort(a++, static_cast<int16_t>(v));
    // Sixteen items of one channel group share their partial sums.
    kernel.fixedLocal[0] = 1;
    kernel.fixedLocal[1] = 4;
    kernel.fixedLocal[2] = 4;
    kernel.SetGlobalSize(groups, 4, 4);
  } else {
    for (int v : {out->c, out->w, in->w, in->h, kernel_w, kernel_h, pad_w0, pad_h0, stride_w,
                  stride_h})
      kernel.SetArgShort(a++, static_cast<int16_t>(v));
    kernel.SetGlobalSize(groups, static_cast<size_t>(out->w), static_cast<size_t>(out->h));
  }
  on_device = true;
  return true;
}

OXRIN_REGISTER_LAYER("AveragePool", cl::Pooling);
OXRIN_REGISTER_LAYER("GlobalAveragePool", cl::Pooling);
OXRIN_REGISTER_LAYER("MaxPool", cl::Pooling);

}  // namespace cl
}  // namespace engine
