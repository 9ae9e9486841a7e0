// CPU computation of Split: equal channel parts, one per output.
#pragma once

#include <vector>

#include "engine/core/split.h"

namespace engine {
namespace simd {

class Split : public core::Split {
 public:
  using core::Split::Split;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> input_;
};

}  // namespace simd
}  // namespace engine
