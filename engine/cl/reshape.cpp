#include "engine/cl/reshape.h"

#include "engine/registry.h"

namespace engine {
namespace cl {

bool Reshape::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  const Tensor* in = inputs[0];
  input_mode = kModeHalfImage;
  output_mode = kModeHalfBuffer;
  if (engine == nullptr || !engine->initialized) return false;
  const auto* producer = dynamic_cast<const Base*>(in->producer);
  if (producer == nullptr || !producer->on_device || producer->output_form(in) != kModeHalfImage)
    return false;
  // Batches stack as rows of the image, in NHWC order.
  const int64_t rows = static_cast<int64_t>(in->n) * in->h;
  if (!FitsShort({in->c, in->w, rows}) || !ImageFits(in, engine)) return false;
  int a = start_kernel(engine, "image_to_buf");
  if (a < 0) return false;
  for (int64_t v : {int64_t{in->c}, int64_t{in->w}, rows})
    kernel.SetArgShort(a++, static_cast<int16_t>(v));
  kernel.SetGlobalSize(static_cast<size_t>((in->c + 3) / 4), static_cast<size_t>(in->w),
                       static_cast<size_t>(rows));
  return true;
}

OXRIN_REGISTER_LAYER("Reshape", cl::Reshape);

}  // namespace cl
}  // namespace engine
