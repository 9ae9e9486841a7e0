#include "engine/cl/resize.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("Resize", cl::Resize);
OXRIN_REGISTER_LAYER("Upsample", cl::Resize);

}  // namespace engine
