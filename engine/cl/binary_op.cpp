#include "engine/cl/binary_op.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("Add", cl::BinaryOp);
OXRIN_REGISTER_LAYER("BinaryOp", cl::BinaryOp);
OXRIN_REGISTER_LAYER("Mul", cl::BinaryOp);

}  // namespace engine
