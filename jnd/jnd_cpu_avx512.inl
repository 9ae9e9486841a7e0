// The AVX-512 path: sixteen pixels per vector, neighbours built from
// aligned loads with a lane rotation instead of unaligned loads that cross
// a cache line every time.  Included by the file of each variant with
// JND_CPU_VNNI set: 1 uses the 16-bit dot-product-accumulate instruction,
// 0 the multiply-add of word pairs followed by an add.  Both give the same
// sums.
#include <immintrin.h>

#include "jnd/jnd_cpu_kernels.h"

namespace jnd {
namespace {

#include "jnd/jnd_cpu_rows.inl"

struct V512 {
  using Vec = __m512i;
  static constexpr int kLanes = 16;

  static Vec Zero() { return _mm512_setzero_si512(); }
  static Vec Set1(int32_t v) { return _mm512_set1_epi32(v); }
  static Vec Load(const int32_t* p) { return _mm512_load_si512(p); }
  static void Store(int32_t* p, Vec v) { _mm512_store_si512(p, v); }
  static Vec Add(Vec a, Vec b) { return _mm512_add_epi32(a, b); }
  static Vec Madd(Vec acc, Vec pixels, Vec weights) {
#if JND_CPU_VNNI
    return _mm512_dpwssd_epi32(acc, pixels, weights);
#else
    return KeepChain(_mm512_add_epi32(acc, _mm512_madd_epi16(pixels, weights)));
#endif
  }
  static Vec ToByte(Vec sum, int shift) {
    const Vec v = _mm512_sra_epi32(sum, _mm_cvtsi32_si128(shift));
    return _mm512_min_epi32(_mm512_max_epi32(v, Zero()), Set1(255));
  }
  static Vec Pair(Vec lo, Vec hi) { return _mm512_or_si512(lo, _mm512_slli_epi32(hi, 16)); }
  static void Neighbours(const int32_t* row, int x, Vec& left, Vec& centre, Vec& right) {
    const Vec prev = Load(row + x - kLanes);
    centre = Load(row + x);
    const Vec next = Load(row + x + kLanes);
    left = _mm512_alignr_epi32(centre, prev, kLanes - 1);
    right = _mm512_alignr_epi32(next, centre, 1);
  }
  static Vec Bytes(const uint8_t* p) {
    return _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  }
  static Vec InputWords(const uint8_t* bytes) {
    const Vec p = Bytes(bytes);
    static_assert(kJndCpuInputScale == 1 << 7, "the input scale is a shift by 7");
    return Pair(_mm512_slli_epi32(p, 7), p);
  }
  static void StoreBytes(uint8_t* out, int x, int width, Vec v) {
    const int n = width - x;
    if (n >= kLanes)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm512_cvtepi32_epi8(v));
    else
      _mm512_mask_cvtepi32_storeu_epi8(out + x, static_cast<__mmask16>((1u << n) - 1u), v);
  }
};

}  // namespace
}  // namespace jnd
