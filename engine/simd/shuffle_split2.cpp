#include "engine/simd/shuffle_split2.h"

#include <algorithm>

#include "engine/simd/conv_kernels.h"
#include "engine/simd/shuffle.h"

namespace engine {
namespace simd {

bool ShuffleSplit2::run(core::RunEnv& env) {
  if (!core::ShuffleSplit2::reshape(env)) return false;
  // The inputs' channels one after the other, pixel by pixel.
  const float* cat = GatherInput(inputs, &input_, &last_error);
  if (cat == nullptr) return false;
  int total = 0;
  for (const Tensor* t : inputs) total += t->c;
  std::vector<float*> dst;
  for (Tensor* o : outputs) {
    dst.push_back(o->ensure_host());
    if (dst.back() == nullptr) return fail(kErrNoOutputMemory);
  }
  const int part = total / static_cast<int>(outputs.size());
  const size_t pixels = outputs[0]->elements() / part;
  shuffled_.resize(total);
  for (size_t p = 0; p < pixels; ++p) {
    ShuffleChannels(cat + p * total, total, groups, shuffled_.data());
    for (size_t o = 0; o < dst.size(); ++o)
      std::copy(shuffled_.begin() + o * part, shuffled_.begin() + (o + 1) * part,
                dst[o] + p * part);
  }
  placement = "cpu:shuffle_split2";
  return true;
}

}  // namespace simd
}  // namespace engine
