// CPU computation of Concat: the inputs' channels one after the other.
#pragma once

#include <vector>

#include "engine/core/concat.h"

namespace engine {
namespace simd {

class Concat : public core::Concat {
 public:
  using core::Concat::Concat;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> input_;
};

}  // namespace simd
}  // namespace engine
