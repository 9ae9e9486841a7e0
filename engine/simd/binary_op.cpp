#include "engine/simd/binary_op.h"

#include "engine/cpu_info.h"
#include "engine/simd/vector_kernels.h"

namespace engine {
namespace simd {

namespace {

Extents Of(const Tensor& t) { return Extents{t.n, t.h, t.w, t.c}; }

}  // namespace

bool BinaryOp::run(core::RunEnv& env) {
  const bool wide = use_wide_cpu_path(env);
  // The shape rule again, so that a run never meets extents it was not
  // prepared for.
  if (!core::BinaryOp::reshape(env)) return false;
  const float* a = InputValues(inputs[0], &input_a_, &last_error);
  if (a == nullptr) return false;
  const float* b = InputValues(inputs[1], &input_b_, &last_error);
  if (b == nullptr) return false;
  Tensor* out = outputs[0];
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);
  const Epilogue e = FoldActivation(this);
  const bool equal = inputs[0]->same_shape(*out) && inputs[1]->same_shape(*out);
  if (equal) {
    (wide ? BinaryEqualWide : BinaryEqualPlain)(a, b, dst, out->elements(), op, e);
  } else {
    (wide ? BinaryBroadcastWide : BinaryBroadcastPlain)(a, Of(*inputs[0]), b, Of(*inputs[1]), dst,
                                                       Of(*out), op, e);
  }
  placement = std::string("cpu:") + (equal ? "binary_equal" : "binary_broadcast") +
              (wide ? "_wide" : "_plain");
  return true;
}

}  // namespace simd
}  // namespace engine
