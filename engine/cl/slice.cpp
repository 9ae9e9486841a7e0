#include "engine/cl/slice.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("Slice", cl::Slice);

}  // namespace engine
