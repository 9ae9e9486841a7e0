// CPU computation of Pad: the input copied into the larger output at the
// leading pads; the pad area holds zeros.
#pragma once

#include <vector>

#include "engine/core/pad.h"

namespace engine {
namespace simd {

class Pad : public core::Pad {
 public:
  using core::Pad::Pad;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> input_;
};

}  // namespace simd
}  // namespace engine
