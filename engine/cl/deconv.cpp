#include "engine/cl/deconv.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("ConvTranspose", cl::DeConv);

}  // namespace engine
