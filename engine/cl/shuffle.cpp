#include "engine/cl/shuffle.h"

#include "engine/registry.h"

namespace engine {
namespace cl {

bool Shuffle::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  const Tensor* in = inputs[0];
  const Tensor* out = outputs[0];
  input_mode = output_mode = kModeHalfImage;
  if (engine == nullptr || !engine->initialized) return false;
  if (in->n != 1 || in->host_u8 != nullptr || out->c % 8 != 0) return false;
  const char* chosen = groups == out->c / 2 ? "shuffle_half" : groups == 2 ? "shuffle_2" : nullptr;
  if (chosen == nullptr) return false;
  if (!FitsShort({out->c, out->w}) || !ImageFits(in, engine)) return false;
  int a = start_kernel(engine, chosen);
  if (a < 0) return false;
  kernel.SetArgShort(a++, static_cast<int16_t>(out->c));
  kernel.SetArgShort(a++, static_cast<int16_t>(out->w));
  kernel.SetGlobalSize(static_cast<size_t>(out->c / 4), static_cast<size_t>(out->w),
                       static_cast<size_t>(out->h));
  return true;
}

OXRIN_REGISTER_LAYER("Shuffle", cl::Shuffle);

}  // namespace cl
}  // namespace engine
