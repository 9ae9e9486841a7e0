#include "engine/cl/normalize.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("Normalize", cl::Normalize);

}  // namespace engine
