#include "engine/simd/pad.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("Pad", simd::Pad);

}  // namespace engine
