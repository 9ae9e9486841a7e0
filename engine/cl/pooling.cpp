#include "engine/cl/pooling.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("AveragePool", cl::Pooling);
OXRIN_REGISTER_LAYER("GlobalAveragePool", cl::Pooling);
OXRIN_REGISTER_LAYER("MaxPool", cl::Pooling);

}  // namespace engine
