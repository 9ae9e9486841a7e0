#include "engine/cl/shuffle.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("Shuffle", cl::Shuffle);

}  // namespace engine
