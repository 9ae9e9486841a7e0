// The avx512 convolution path: AVX-512F on 512-bit vectors, sixteen lanes.
// Compiled with the AVX-512F option only; chosen at run time.
#include <immintrin.h>

#include "engine/core/activation.h"
#include "engine/simd/conv_paths.h"

namespace engine {
namespace simd {
namespace {

struct V512 {
  using T = __m512;
  static constexpr int kLanes = 16;
  // 16 sums, 2 weight vectors and the broadcast: 19 of 32 registers (more
  // pixels would want more pointer registers than x86-64 has).
  static constexpr int kPixels = 8;
  static constexpr int kBlocks = 2;
  static constexpr int kPixelsOneBlock = 12;

  static __mmask16 PartMask(int n) { return static_cast<__mmask16>((1u << n) - 1u); }

  static T Zero() { return _mm512_setzero_ps(); }
  static T Set1(float x) { return _mm512_set1_ps(x); }
  static T Load(const float* p) { return _mm512_loadu_ps(p); }
  static T Bcast(const float* p) { return _mm512_set1_ps(*p); }
  static void Store(float* p, T v) { _mm512_storeu_ps(p, v); }
  static T LoadPart(const float* p, int n) { return _mm512_maskz_loadu_ps(PartMask(n), p); }
  static void StorePart(float* p, int n, T v) { _mm512_mask_storeu_ps(p, PartMask(n), v); }
  static T Madd(T a, T b, T acc) { return _mm512_fmadd_ps(a, b, acc); }
  static T Add(T a, T b) { return _mm512_add_ps(a, b); }
  static T Mul(T a, T b) { return _mm512_mul_ps(a, b); }
  static T Max(T a, T b) { return _mm512_max_ps(a, b); }
  static T Min(T a, T b) { return _mm512_min_ps(a, b); }
};

}  // namespace

#include "engine/simd/conv_tile.inc"

const ConvKernels& Avx512ConvKernels() {
  static constexpr ConvKernels kKernels = {ConvPath::kAvx512, V512::kLanes,
                                           &ConvTile<V512>::Dense, &ConvTile<V512>::Depthwise};
  return kKernels;
}

}  // namespace simd
}  // namespace engine
