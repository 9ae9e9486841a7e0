// CPU computation of Pooling (max, average, global average): a wide and a
// plain variant, each image of the batch in turn.
#pragma once

#include <vector>

#include "engine/core/pooling.h"

namespace engine {
namespace simd {

class Pooling : public core::Pooling {
 public:
  using core::Pooling::Pooling;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> input_;
};

}  // namespace simd
}  // namespace engine
