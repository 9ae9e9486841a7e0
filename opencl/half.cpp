#include "opencl/half.h"

#include <cstring>

#include "platform/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64)
#include <immintrin.h>
#define OX_HAVE_X86 1
#endif

namespace opencl {
namespace {

constexpr uint32_t kQuietNaN = 0x7FC00000u;
constexpr uint32_t kFloatInf = 0x7F800000u;
// Largest finite half, 65504, as float bits.
constexpr uint32_t kMaxHalfAsFloat = 0x477FE000u;
constexpr uint16_t kHalfNaN = 0x7FFF;
constexpr uint16_t kHalfInf = 0x7C00;
constexpr uint16_t kHalfMaxFinite = 0x7BFF;

uint32_t FloatBits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

float BitsFloat(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

float HalfToFloatSoft(uint16_t h) {
  const uint32_t sign = static_cast<uint32_t>(h & 0x8000u) << 16;
  const uint32_t exp = (h >> 10) & 0x1Fu;
  const uint32_t mant = h & 0x3FFu;
  if (exp == 0) {
    // Zero and subnormals: mant * 2^-24, exact in single precision.
    const float mag = static_cast<float>(mant) * 5.9604644775390625e-8f;
    return BitsFloat(FloatBits(mag) | sign);
  }
  if (exp == 0x1F) return BitsFloat(mant == 0 ? (sign | kFloatInf) : kQuietNaN);
  return BitsFloat(sign | ((exp + 112u) << 23) | (mant << 13));
}

uint16_t FloatToHalfSoft(float f) {
  const uint32_t bits = FloatBits(f);
  const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
  const uint32_t mag = bits & 0x7FFFFFFFu;
  if (mag > kFloatInf) return kHalfNaN;
  if (mag == kFloatInf) return sign | kHalfInf;
  const uint32_t exp = mag >> 23;
  if (exp < 113) {
    // Below 2^-14: a subnormal half, the mantissa with its hidden bit
    // shifted down; nothing survives a shift beyond 23 bits.
    const uint32_t shift = 126 - exp;
    if (shift > 23) return sign;
    const uint32_t mant = (mag & 0x7FFFFFu) | 0x800000u;
    return sign | static_cast<uint16_t>(mant >> shift);
  }
  if (mag > kMaxHalfAsFloat) return sign | kHalfMaxFinite;
  return sign | static_cast<uint16_t>(((exp - 112u) << 10) | ((mag >> 13) & 0x3FFu));
}

#if OX_HAVE_X86
// Compiled for F16C alone; only called after the run-time check.
__attribute__((target("avx,f16c"))) void HalfToFloatBlocks8(const uint16_t* src, float* dst,
                                                             size_t blocks) {
  const __m256 canonical = _mm256_castsi256_ps(_mm256_set1_epi32(static_cast<int>(kQuietNaN)));
  for (size_t b = 0; b < blocks; ++b) {
    const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8 * b));
    __m256 f = _mm256_cvtph_ps(h);
    // The instruction keeps NaN payloads and signs; the software path
    // gives one canonical NaN, and both paths must agree.
    const __m256 isNaN = _mm256_cmp_ps(f, f, _CMP_UNORD_Q);
    f = _mm256_blendv_ps(f, canonical, isNaN);
    _mm256_storeu_ps(dst + 8 * b, f);
  }
}
#endif

}  // namespace

float HalfToFloat(uint16_t h) { return HalfToFloatSoft(h); }

uint16_t FloatToHalf(float f) { return FloatToHalfSoft(f); }

void HalfToFloat(const uint16_t* src, float* dst, size_t count) {
  size_t done = 0;
#if OX_HAVE_X86
  if (platform::GetCpuFeatures().f16c) {
    const size_t blocks = count / 8;
    HalfToFloatBlocks8(src, dst, blocks);
    done = blocks * 8;
  }
#endif
  for (size_t i = done; i < count; ++i) dst[i] = HalfToFloatSoft(src[i]);
}

void FloatToHalf(const float* src, uint16_t* dst, size_t count) {
  for (size_t i = 0; i < count; ++i) dst[i] = FloatToHalfSoft(src[i]);
}

void BytesToFloat(const uint8_t* src, float* dst, size_t count, float mean, float scale) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128 vmean = _mm_set1_ps(mean);
  const __m128 vscale = _mm_set1_ps(scale);
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= count; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i lo16 = _mm_unpacklo_epi8(bytes, zero);
    const __m128i hi16 = _mm_unpackhi_epi8(bytes, zero);
    const __m128i words[4] = {_mm_unpacklo_epi16(lo16, zero), _mm_unpackhi_epi16(lo16, zero),
                              _mm_unpacklo_epi16(hi16, zero), _mm_unpackhi_epi16(hi16, zero)};
    for (int q = 0; q < 4; ++q) {
      const __m128 v = _mm_mul_ps(_mm_sub_ps(_mm_cvtepi32_ps(words[q]), vmean), vscale);
      _mm_storeu_ps(dst + i + 4 * q, v);
    }
  }
#endif
  for (; i < count; ++i) dst[i] = (static_cast<float>(src[i]) - mean) * scale;
}

}  // namespace opencl
