#include "engine/cl/concat.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("Concat", cl::Concat);

}  // namespace engine
