// CPU computation of BinaryOp: a wide and a plain variant, each with a
// path for equal shapes and one for broadcasting; a following in-place
// activation of kind 1, 2 or 6 is applied in the store.
#pragma once

#include <vector>

#include "engine/core/binary_op.h"

namespace engine {
namespace simd {

class BinaryOp : public core::BinaryOp {
 public:
  using core::BinaryOp::BinaryOp;
  bool run(core::RunEnv& env) override;

 private:
  std::vector<float> input_a_, input_b_;
};

}  // namespace simd
}  // namespace engine
