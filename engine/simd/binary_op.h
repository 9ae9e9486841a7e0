// CPU computation of BinaryOp; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/binary_op.h"

namespace engine {
namespace simd {

class BinaryOp : public core::BinaryOp {
 public:
  using core::BinaryOp::BinaryOp;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
