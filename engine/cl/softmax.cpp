#include "engine/cl/softmax.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("Softmax", cl::Softmax);

}  // namespace engine
