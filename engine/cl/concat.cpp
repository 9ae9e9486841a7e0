#include "engine/cl/concat.h"

#include "engine/registry.h"

namespace engine {
namespace cl {

std::string ConcatKernel(const std::vector<int>& cs, int form) {
  if (cs.size() < 2 || cs.size() > 4) return "";
  const std::string base = "concat" + std::to_string(cs.size());
  if (form == kModeHalfBuffer) return base + "_buf";
  if (form != kModeHalfImage) return "";
  if (cs.size() == 3 && cs[0] % 4 == 0 && cs[1] == 2 && cs[2] == 2) return base + "_X4_2_2";
  if (cs.size() == 3 && cs[0] % 2 == 0 && cs[1] == 3 && cs[2] == 3) return base + "_X2_3_3";
  for (int c : cs)
    if (c % 4 != 0) return "";
  return base;
}

bool Concat::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  Tensor* out = outputs[0];
  if (engine == nullptr || !engine->initialized) return false;
  // Only inputs that already live on the device are joined there.
  std::vector<int> cs;
  for (const Tensor* t : inputs) {
    if (t->device_mem == nullptr || t->n != 1) return false;
    cs.push_back(t->c);
  }
  const int form = DeviceFormOf(inputs[0]);
  const std::string chosen = ConcatKernel(cs, form);
  if (chosen.empty()) return false;
  input_mode = output_mode = form;
  if (form == kModeHalfImage) {
    for (const Tensor* t : inputs)
      if (!ImageFits(t, engine)) return false;
  }
  const size_t g0 = form == kModeHalfImage ? static_cast<size_t>((out->c + 3) / 4)
                                           : static_cast<size_t>(out->c);
  if (!FitsShort({out->c, out->w, out->h})) return false;
  int a = start_kernel(engine, chosen);
  if (a < 0) return false;
  // The global size again, as the kernels' bounds.
  for (int v : {static_cast<int>(g0), out->w, out->h})
    kernel.SetArgShort(a++, static_cast<int16_t>(v));
  for (int c : cs) kernel.SetArgShort(a++, static_cast<int16_t>(c));
  kernel.SetGlobalSize(g0, static_cast<size_t>(out->w), static_cast<size_t>(out->h));
  return true;
}

OXRIN_REGISTER_LAYER("Concat", cl::Concat);

}  // namespace cl
}  // namespace engine
