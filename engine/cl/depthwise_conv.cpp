#include "engine/cl/depthwise_conv.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("DepthwiseConv", cl::DepthwiseConv);

}  // namespace engine
