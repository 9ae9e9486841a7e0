#include "engine/cl/shuffle_split2.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("ShuffleSplit2", cl::ShuffleSplit2);

}  // namespace engine
