#include "engine/cl/split.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("Split", cl::Split);

}  // namespace engine
