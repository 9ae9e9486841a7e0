// The plain convolution path: SSE multiply then add, four lanes.  Runs on
// every x86-64 processor; the other paths are checked against it.
#include <immintrin.h>

#include "engine/core/activation.h"
#include "engine/simd/conv_paths.h"

namespace engine {
namespace simd {
namespace {

struct V128 {
  using T = __m128;
  static constexpr int kLanes = 4;
  // 8 sums, 4 weight vectors, the broadcast and the product: 14 of 16
  // registers.
  static constexpr int kPixels = 2;
  static constexpr int kBlocks = 4;
  static constexpr int kPixelsOneBlock = 8;

  static T Zero() { return _mm_setzero_ps(); }
  static T Set1(float x) { return _mm_set1_ps(x); }
  static T Load(const float* p) { return _mm_loadu_ps(p); }
  static T Bcast(const float* p) { return _mm_load1_ps(p); }
  static void Store(float* p, T v) { _mm_storeu_ps(p, v); }
  static T LoadPart(const float* p, int n) {
    alignas(16) float t[4] = {0.f, 0.f, 0.f, 0.f};
    for (int k = 0; k < n; ++k) t[k] = p[k];
    return _mm_load_ps(t);
  }
  static void StorePart(float* p, int n, T v) {
    alignas(16) float t[4];
    _mm_store_ps(t, v);
    for (int k = 0; k < n; ++k) p[k] = t[k];
  }
  static T Madd(T a, T b, T acc) { return _mm_add_ps(_mm_mul_ps(a, b), acc); }
  static T Add(T a, T b) { return _mm_add_ps(a, b); }
  static T Mul(T a, T b) { return _mm_mul_ps(a, b); }
  static T Max(T a, T b) { return _mm_max_ps(a, b); }
  static T Min(T a, T b) { return _mm_min_ps(a, b); }
};

}  // namespace

#include "engine/simd/conv_tile.inc"

const ConvKernels& PlainConvKernels() {
  static constexpr ConvKernels kKernels = {ConvPath::kPlain, V128::kLanes, &ConvTile<V128>::Dense,
                                           &ConvTile<V128>::Depthwise};
  return kKernels;
}

}  // namespace simd
}  // namespace engine
