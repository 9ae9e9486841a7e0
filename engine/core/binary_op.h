// Elementwise binary operation with broadcasting: an extent of 1 is
// repeated, every other extent must equal the other input's.
#pragma once

#include "engine/layer.h"

namespace engine {

enum BinaryOpKind : int32_t { kOpAdd = 0, kOpSub = 1, kOpMul = 2 };

namespace core {

class BinaryOp : public virtual Layer {
 public:
  BinaryOp(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool use_buffer_weight(opencl::clEngine* engine) override;
  bool reshape(RunEnv& env) override;

  int32_t op = kOpAdd;
};

extern const char* const kTypeMul;          // "Mul"
extern const char* const kErrBroadcast;     // "input extents neither equal nor 1"
extern const char* const kErrUnknownOp;     // "unknown operation"

}  // namespace core
}  // namespace engine
