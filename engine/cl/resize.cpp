#include "engine/cl/resize.h"

#include "engine/registry.h"

namespace engine {
namespace cl {

bool Resize::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  const Tensor* in = inputs[0];
  const Tensor* out = outputs[0];
  if (!images_fit(engine) || out->c % 4 != 0) return false;
  if (mode != core::kResizeNearest && mode != core::kResizeBilinear) return false;
  if (!FitsShort({out->c, out->w, out->h, in->w, in->h})) return false;
  const char* chosen = mode == core::kResizeNearest ? "resize_nearest" : "resize_bilinear";
  int arg = start_kernel(engine, chosen);
  if (arg < 0) return false;
  for (int v : {out->c, out->w, out->h, in->w, in->h, align_corners ? 1 : 0})
    kernel.SetArgShort(arg++, static_cast<int16_t>(v));
  kernel.SetArgFloat(arg++, simd::ResizeScale(in->w, out->w, align_corners));
  kernel.SetArgFloat(arg++, simd::ResizeScale(in->h, out->h, align_corners));
  kernel.SetGlobalSize(static_cast<size_t>((out->c + 3) / 4), static_cast<size_t>(out->w),
                       static_cast<size_t>(out->h));
  return true;
}

OXRIN_REGISTER_LAYER("Resize", cl::Resize);
OXRIN_REGISTER_LAYER("Upsample", cl::Resize);

}  // namespace cl
}  // namespace engine
