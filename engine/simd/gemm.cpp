#include "engine/simd/gemm.h"

#include "engine/registry.h"

namespace engine {

OXRIN_REGISTER_LAYER("Gemm", simd::Gemm);

}  // namespace engine
