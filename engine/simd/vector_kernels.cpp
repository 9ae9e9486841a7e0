#include "engine/simd/vector_kernels.h"

#include <immintrin.h>

#include <cfloat>

#include "engine/core/activation.h"
#include "engine/core/binary_op.h"

namespace engine {
namespace simd {

// The plain build: SSE multiply then add.
#define KERNEL_ATTR
#define KERNEL_MADD(a, b, acc) _mm_add_ps(_mm_mul_ps(a, b), acc)
#define KERNEL_SUFFIX(name) name##Plain
#define KERNEL_BINARY_EQUAL BinaryEqualPlain
#define KERNEL_BINARY_BROADCAST BinaryBroadcastPlain
#define KERNEL_POOL PoolPlain
#define KERNEL_GEMM GemmPlain
#include "engine/simd/vector_kernels.inc"
#undef KERNEL_ATTR
#undef KERNEL_MADD
#undef KERNEL_SUFFIX
#undef KERNEL_BINARY_EQUAL
#undef KERNEL_BINARY_BROADCAST
#undef KERNEL_POOL
#undef KERNEL_GEMM

// The wide build: fused multiply-add and VEX encoding, for these functions
// only (the rest of the library stays runnable on any x86-64).
#define KERNEL_ATTR __attribute__((target("avx,fma")))
#define KERNEL_MADD(a, b, acc) _mm_fmadd_ps(a, b, acc)
#define KERNEL_SUFFIX(name) name##Wide
#define KERNEL_BINARY_EQUAL BinaryEqualWide
#define KERNEL_BINARY_BROADCAST BinaryBroadcastWide
#define KERNEL_POOL PoolWide
#define KERNEL_GEMM GemmWide
#include "engine/simd/vector_kernels.inc"
#undef KERNEL_ATTR
#undef KERNEL_MADD
#undef KERNEL_SUFFIX
#undef KERNEL_BINARY_EQUAL
#undef KERNEL_BINARY_BROADCAST
#undef KERNEL_POOL
#undef KERNEL_GEMM

}  // namespace simd
}  // namespace engine
