#include "engine/cl/reshape.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("Reshape", cl::Reshape);

}  // namespace engine
