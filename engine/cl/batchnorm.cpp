#include "engine/cl/batchnorm.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("BatchNormalization", cl::Batchnorm);

}  // namespace engine
