#include "engine/cl/normalize.h"

#include "engine/registry.h"

namespace engine {
namespace cl {

bool Normalize::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  const Tensor* in = inputs[0];
  const Tensor* out = outputs[0];
  input_mode = kModeByteBuffer;
  output_mode = kModeHalfImage;
  if (engine == nullptr || !engine->initialized) return false;
  if (in->host_u8 == nullptr || in->n != 1 || !FitsShort({out->c, out->w, out->h})) return false;
  int a = start_kernel(engine, "normalize_kernel");
  if (a < 0) return false;
  for (int v : {in->c, out->c, out->w, out->h}) kernel.SetArgShort(a++, static_cast<int16_t>(v));
  for (float m : in->mean) kernel.SetArgFloat(a++, m);
  for (float s : in->scale) kernel.SetArgFloat(a++, s);
  kernel.SetArgFloat(a++, fill);
  kernel.SetGlobalSize(static_cast<size_t>((out->c + 3) / 4), static_cast<size_t>(out->w),
                       static_cast<size_t>(out->h));
  return true;
}

OXRIN_REGISTER_LAYER("Normalize", cl::Normalize);

}  // namespace cl
}  // namespace engine
