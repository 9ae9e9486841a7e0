#include "engine/cl/batchnorm.h"

#include "engine/cl/device_layout.h"
#include "engine/registry.h"

namespace engine {
namespace cl {

bool Batchnorm::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  const Tensor* out = outputs[0];
  if (!images_fit(engine) || !FitsShort({out->c, out->w, out->h})) return false;
  const Tensor* params[4] = {scale, bias, mean, variance};
  for (const Tensor* t : params)
    if (t == nullptr || t->host_data == nullptr || t->elements() < static_cast<size_t>(out->c))
      return false;
  // out = in * factor + offset, folded once here.
  const int c = out->c;
  std::vector<float> factor, offset;
  fold(c, &factor, &offset);
  const TexelExtent row = ImageExtent(kLayoutNhwc, 1, 1, 1, c);
  offset_mem_ = std::make_unique<opencl::ClMemory>(engine);
  factor_mem_ = std::make_unique<opencl::ClMemory>(engine);
  if (!UploadHalfImage(offset_mem_.get(), row.width, row.height,
                       PackTexels(kLayoutNhwc, offset.data(), 1, 1, 1, c)) ||
      !UploadHalfImage(factor_mem_.get(), row.width, row.height,
                       PackTexels(kLayoutNhwc, factor.data(), 1, 1, 1, c)))
    return false;
  int arg = start_kernel(engine, "batchnorm");
  if (arg < 0) return false;
  activation_flag = device_activation_flag();
  kernel.SetArgMem(arg++, offset_mem_->image);
  kernel.SetArgMem(arg++, factor_mem_->image);
  for (int v : {c, out->w, out->h, activation_flag}) kernel.SetArgShort(arg++, static_cast<int16_t>(v));
  kernel.SetGlobalSize(static_cast<size_t>((c + 3) / 4), static_cast<size_t>(out->w),
                       static_cast<size_t>(out->h));
  return true;
}

OXRIN_REGISTER_LAYER("BatchNormalization", cl::Batchnorm);

}  // namespace cl
}  // namespace engine
