#include "engine/simd/activation.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("Activation", simd::Activation);
OXRIN_REGISTER_LAYER("LeakyRelu", simd::Activation);
OXRIN_REGISTER_LAYER("Relu", simd::Activation);
OXRIN_REGISTER_LAYER("Sigmoid", simd::Activation);

}  // namespace engine
