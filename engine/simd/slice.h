// CPU computation of Slice: copies the selected (start, end, step) ranges.
#pragma once

#include <vector>

#include "engine/core/slice.h"

namespace engine {
namespace simd {

class Slice : public core::Slice {
 public:
  using core::Slice::Slice;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> input_;
};

}  // namespace simd
}  // namespace engine
