#include "engine/cl/shuffle_split2.h"

#include <cstring>

#include "engine/registry.h"

namespace engine {
namespace cl {

namespace {

// Kernel argument slots of the two inputs and the two outputs.
constexpr int kIn0 = 0, kIn1 = 1, kOut0 = 2, kOut1 = 3;

}  // namespace

bool ShuffleSplit2::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  const Tensor* in0 = inputs[0];
  const Tensor* out = outputs[0];
  input_mode = output_mode = kModeHalfImage;
  if (engine == nullptr || !engine->initialized) return false;
  for (const Tensor* t : inputs)
    if (t->n != 1 || t->host_u8 != nullptr || !ImageFits(t, engine)) return false;
  // The kernel reads two inputs of e channels each (it tells one input
  // from two by input 0's width) and writes e channels per output.
  if (inputs.size() == 2 && inputs[1]->c != in0->c) return false;
  const int e = inputs.size() == 2 ? in0->c : in0->c / 2;
  if (in0->c % 2 != 0 || e % 4 != 0) return false;
  const char* chosen = groups == e ? "shuffle_split2_half" : groups == 2 ? "shuffle_split2_2" : nullptr;
  if (chosen == nullptr) return false;
  if (!FitsShort({2 * e, out->w})) return false;
  // Two input and two output slots, whatever the layer's tensor counts.
  int a = start_kernel(engine, chosen, 2, 2);
  if (a < 0) return false;
  kernel.SetArgShort(a++, static_cast<int16_t>(e));
  kernel.SetArgShort(a++, static_cast<int16_t>(out->w));
  kernel.SetArgShort(a++, static_cast<int16_t>(outputs.size()));
  kernel.SetGlobalSize(static_cast<size_t>(e / 4), static_cast<size_t>(out->w),
                       static_cast<size_t>(out->h));
  return true;
}

// A slot without a tensor of its own repeats the first one's memory.
void ShuffleSplit2::before_launch() {
  auto repeat = [this](int from, int to) {
    cl_mem mem = nullptr;
    std::memcpy(&mem, kernel.args[from].value, sizeof mem);
    kernel.SetArgMem(to, mem);
  };
  if (inputs.size() == 1) repeat(kIn0, kIn1);
  if (outputs.size() == 1) repeat(kOut0, kOut1);
}

OXRIN_REGISTER_LAYER("ShuffleSplit2", cl::ShuffleSplit2);

}  // namespace cl
}  // namespace engine
