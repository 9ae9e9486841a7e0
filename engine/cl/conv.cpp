#include "engine/cl/conv.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("Conv", cl::Conv);

}  // namespace engine
