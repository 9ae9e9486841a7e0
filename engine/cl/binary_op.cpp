#include "engine/cl/binary_op.h"

#include "engine/registry.h"

namespace engine {
namespace cl {

bool BinaryOp::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  if (inputs.size() != 2 || !images_fit(engine) || op < kOpAdd || op > kOpMul) return false;
  const Tensor* a = inputs[0];
  const Tensor* b = inputs[1];
  const Tensor* out = outputs[0];
  if (!FitsShort({out->c, out->w, out->h, a->c, a->w, a->h, b->c, b->w, b->h})) return false;
  int arg = start_kernel(engine, "binary_op");
  if (arg < 0) return false;
  activation_flag = device_activation_flag();
  for (int v : {out->c, out->w, out->h, a->c, a->w, a->h, b->c, b->w, b->h, op, activation_flag})
    kernel.SetArgShort(arg++, static_cast<int16_t>(v));
  kernel.SetGlobalSize(static_cast<size_t>((out->c + 3) / 4), static_cast<size_t>(out->w),
                       static_cast<size_t>(out->h));
  return true;
}

OXRIN_REGISTER_LAYER("Add", cl::BinaryOp);
OXRIN_REGISTER_LAYER("BinaryOp", cl::BinaryOp);
OXRIN_REGISTER_LAYER("Mul", cl::BinaryOp);

}  // namespace cl
}  // namespace engine
