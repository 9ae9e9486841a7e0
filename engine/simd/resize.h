// CPU computation of Resize: nearest or bilinear sampling at out * scale,
// scale = (in - a) / (out - a) per axis with a = 1 for align_corners and
// an output extent above 1, else 0.
#pragma once

#include <vector>

#include "engine/core/resize.h"

namespace engine {
namespace simd {

// The sampling step along one axis: (in - a) / (out - a), a = 1 when
// align_corners is set and out > 1, else 0.
float ResizeScale(int in, int out, bool align_corners);

class Resize : public core::Resize {
 public:
  using core::Resize::Resize;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> input_, ty_, tx_;
  std::vector<int> y0_, y1_, x0_, x1_;
};

}  // namespace simd
}  // namespace engine
