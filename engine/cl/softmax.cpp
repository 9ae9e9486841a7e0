#include "engine/cl/softmax.h"

#include "engine/registry.h"

namespace engine {
namespace cl {

bool Softmax::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  const Tensor* in = inputs[0];
  input_mode = output_mode = kModeHalfBuffer;
  if (engine == nullptr || !engine->initialized) return false;
  if (in->n != 1 || in->host_u8 != nullptr || !FitsShort({in->c, in->w, in->h})) return false;
  int a = start_kernel(engine, "softmax");
  if (a < 0) return false;
  for (int v : {in->c, in->w, in->h}) kernel.SetArgShort(a++, static_cast<int16_t>(v));
  kernel.SetGlobalSize(static_cast<size_t>(in->w), static_cast<size_t>(in->h), 1);
  return true;
}

OXRIN_REGISTER_LAYER("Softmax", cl::Softmax);

}  // namespace cl
}  // namespace engine
