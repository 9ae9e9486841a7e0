#include "engine/cl/slice.h"

#include "engine/registry.h"

namespace engine {
namespace cl {

bool Slice::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  const Tensor* in = inputs[0];
  const Tensor* out = outputs[0];
  input_mode = output_mode = kModeHalfImage;
  if (engine == nullptr || !engine->initialized) return false;
  if (in->n != 1 || in->host_u8 != nullptr) return false;
  const bool whole_h = from[kH] == 0 && to[kH] == in->h && by[kH] == 1;
  const bool whole_w = from[kW] == 0 && to[kW] == in->w && by[kW] == 1;
  if (!whole_h || !whole_w || by[kC] != 1 || from[kC] % 4 != 0) return false;
  if (!FitsShort({in->c, out->c, out->w, out->h}) || !ImageFits(in, engine)) return false;
  int a = start_kernel(engine, "slice");
  if (a < 0) return false;
  for (int v : {in->c, from[kC], out->c, out->w, out->h})
    kernel.SetArgShort(a++, static_cast<int16_t>(v));
  kernel.SetGlobalSize(static_cast<size_t>((out->c + 3) / 4), static_cast<size_t>(out->w),
                       static_cast<size_t>(out->h));
  return true;
}

OXRIN_REGISTER_LAYER("Slice", cl::Slice);

}  // namespace cl
}  // namespace engine
