#include "engine/cl/split.h"

#include "engine/registry.h"

namespace engine {
namespace cl {

bool Split::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  const Tensor* in = inputs[0];
  input_mode = output_mode = kModeHalfImage;
  if (engine == nullptr || !engine->initialized) return false;
  if (outputs.size() != 2 || in->n != 1 || in->host_u8 != nullptr) return false;
  const Tensor* out = outputs[0];
  // Each output takes whole texels of the input.
  if (out->c % 4 != 0 || !FitsShort({out->c, out->w}) || !ImageFits(in, engine)) return false;
  int a = start_kernel(engine, "split_2");
  if (a < 0) return false;
  kernel.SetArgShort(a++, static_cast<int16_t>(out->c));
  kernel.SetArgShort(a++, static_cast<int16_t>(out->w));
  kernel.SetGlobalSize(static_cast<size_t>(out->c / 4), static_cast<size_t>(out->w),
                       static_cast<size_t>(out->h));
  return true;
}

OXRIN_REGISTER_LAYER("Split", cl::Split);

}  // namespace cl
}  // namespace engine
