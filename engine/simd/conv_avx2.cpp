// The avx2 convolution path: AVX2 + FMA on 256-bit vectors, eight lanes.
// Compiled with the AVX2 and FMA options only; chosen at run time.
#include <immintrin.h>

#include "engine/core/activation.h"
#include "engine/simd/conv_paths.h"

namespace engine {
namespace simd {
namespace {

struct V256 {
  using T = __m256;
  static constexpr int kLanes = 8;
  // 12 sums, 2 weight vectors and the broadcast: 15 of 16 registers.
  static constexpr int kPixels = 6;
  static constexpr int kBlocks = 2;
  static constexpr int kPixelsOneBlock = 12;

  // Lane k of the mask for n lanes is set when k < n.
  static __m256i PartMask(int n) {
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(n), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
  }

  static T Zero() { return _mm256_setzero_ps(); }
  static T Set1(float x) { return _mm256_set1_ps(x); }
  static T Load(const float* p) { return _mm256_loadu_ps(p); }
  static T Bcast(const float* p) { return _mm256_broadcast_ss(p); }
  static void Store(float* p, T v) { _mm256_storeu_ps(p, v); }
  static T LoadPart(const float* p, int n) { return _mm256_maskload_ps(p, PartMask(n)); }
  static void StorePart(float* p, int n, T v) { _mm256_maskstore_ps(p, PartMask(n), v); }
  static T Madd(T a, T b, T acc) { return _mm256_fmadd_ps(a, b, acc); }
  static T Add(T a, T b) { return _mm256_add_ps(a, b); }
  static T Mul(T a, T b) { return _mm256_mul_ps(a, b); }
  static T Max(T a, T b) { return _mm256_max_ps(a, b); }
  static T Min(T a, T b) { return _mm256_min_ps(a, b); }
};

}  // namespace

#include "engine/simd/conv_tile.inc"

const ConvKernels& Avx2ConvKernels() {
  static constexpr ConvKernels kKernels = {ConvPath::kAvx2, V256::kLanes, &ConvTile<V256>::Dense,
                                           &ConvTile<V256>::Depthwise};
  return kKernels;
}

}  // namespace simd
}  // namespace engine
