#include "engine/core/binary_op.h"

#include <algorithm>

namespace engine {
namespace core {

const char* const kTypeMul = "Mul";
const char* const kErrBroadcast = "input extents neither equal nor 1";
const char* const kErrUnknownOp = "unknown operation";

BinaryOp::BinaryOp(const LayerDesc& desc, TensorMap& tensors, WeightMap&) {
  take_names(desc);
  op = type == kTypeMul ? kOpMul : desc.params[0];
  bind_tensors(desc, tensors, 2);
}

bool BinaryOp::use_buffer_weight(opencl::clEngine*) { return true; }

namespace {

bool Compatible(int32_t a, int32_t b) { return a == b || a == 1 || b == 1; }

}  // namespace

bool BinaryOp::reshape(RunEnv&) {
  if (!require(2, 1)) return false;
  if (op < kOpAdd || op > kOpMul) return fail(kErrUnknownOp);
  const Tensor* a = inputs[0];
  const Tensor* b = inputs[1];
  // n follows input 0, so input 1 may only repeat it.
  if (!(b->n == a->n || b->n == 1) || !Compatible(a->h, b->h) || !Compatible(a->w, b->w) ||
      !Compatible(a->c, b->c))
    return fail(kErrBroadcast);
  return set_output(0, a->n, std::max(a->h, b->h), std::max(a->w, b->w), std::max(a->c, b->c),
                    a->layout);
}

}  // namespace core
}  // namespace engine
