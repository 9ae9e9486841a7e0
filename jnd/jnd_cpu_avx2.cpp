// The AVX2 path: eight pixels per vector, multiply-add of word pairs then
// add.  Compiled with the AVX2 option only; chosen at run time.
#include <immintrin.h>

#include <cstring>

#include "jnd/jnd_cpu_kernels.h"

namespace jnd {
namespace {

#include "jnd/jnd_cpu_rows.inl"

struct V256 {
  using Vec = __m256i;
  static constexpr int kLanes = 8;

  static Vec Zero() { return _mm256_setzero_si256(); }
  static Vec Set1(int32_t v) { return _mm256_set1_epi32(v); }
  static Vec Load(const int32_t* p) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(p)); }
  static Vec LoadU(const int32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static void Store(int32_t* p, Vec v) { _mm256_store_si256(reinterpret_cast<__m256i*>(p), v); }
  static Vec Add(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
  static Vec Madd(Vec acc, Vec pixels, Vec weights) {
    return KeepChain(_mm256_add_epi32(acc, _mm256_madd_epi16(pixels, weights)));
  }
  static Vec ToByte(Vec sum, int shift) {
    const Vec v = _mm256_sra_epi32(sum, _mm_cvtsi32_si128(shift));
    return _mm256_min_epi32(_mm256_max_epi32(v, Zero()), Set1(255));
  }
  static Vec Pair(Vec lo, Vec hi) { return _mm256_or_si256(lo, _mm256_slli_epi32(hi, 16)); }
  static void Neighbours(const int32_t* row, int x, Vec& left, Vec& centre, Vec& right) {
    left = LoadU(row + x - 1);
    centre = Load(row + x);
    right = LoadU(row + x + 1);
  }
  static Vec Bytes(const uint8_t* p) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  }
  static Vec InputWords(const uint8_t* bytes) {
    const Vec p = Bytes(bytes);
    static_assert(kJndCpuInputScale == 1 << 7, "the input scale is a shift by 7");
    return Pair(_mm256_slli_epi32(p, 7), p);
  }
  static void StoreBytes(uint8_t* out, int x, int width, Vec v) {
    // Low byte of each lane to the front of its 128-bit half, then the two
    // halves' first words side by side.
    const Vec gather = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                        0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const Vec packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, gather),
                                                   _mm256_setr_epi32(0, 4, 1, 1, 1, 1, 1, 1));
    const __m128i bytes = _mm256_castsi256_si128(packed);
    const int n = width - x;
    if (n >= kLanes) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), bytes);
    } else {
      alignas(16) uint8_t tail[16];
      _mm_store_si128(reinterpret_cast<__m128i*>(tail), bytes);
      std::memcpy(out + x, tail, static_cast<size_t>(n));
    }
  }
};

constexpr JndCpuKernels kKernels = Rows<V256>::Table("avx2");

}  // namespace

const JndCpuKernels* JndCpuAvx2Kernels() { return &kKernels; }

}  // namespace jnd
