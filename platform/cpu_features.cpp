#include "platform/cpu_features.h"

#include <cstdint>
#include <cstring>

// The compiler's intrinsics: MSVC's, or GCC's and Clang's (MinGW too).
#if defined(_MSC_VER)
#include <intrin.h>
#elif defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace platform {
namespace {

#if defined(_WIN32) || defined(__x86_64__) || defined(__i386__)
constexpr uint32_t kEcxFma = 1u << 12;
constexpr uint32_t kEcxOsxsave = 1u << 27;
constexpr uint32_t kEcxAvx = 1u << 28;
constexpr uint32_t kEcxF16c = 1u << 29;
constexpr uint32_t kEdxSse2 = 1u << 26;
constexpr uint32_t kLeaf7EbxAvx2 = 1u << 5;
constexpr uint32_t kLeaf7EbxAvx512f = 1u << 16;
constexpr uint32_t kLeaf7EbxAvx512bw = 1u << 30;
constexpr uint32_t kLeaf7EcxAvx512Vnni = 1u << 11;
// XCR0 bits 1 (SSE state) and 2 (AVX state) must both be enabled by the OS;
// for AVX-512 also bits 5 to 7 (opmask, upper ZMM halves, ZMM16-31).
constexpr uint64_t kXcr0SseAvx = 0x6;
constexpr uint64_t kXcr0Avx512 = 0xE6;

// regs: EAX, EBX, ECX, EDX of leaf/sub-leaf.
void Cpuid(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]) {
#if defined(_MSC_VER)
  int r[4] = {0, 0, 0, 0};
  __cpuidex(r, static_cast<int>(leaf), static_cast<int>(subleaf));
  for (int i = 0; i < 4; ++i) regs[i] = static_cast<uint32_t>(r[i]);
#else
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid_count(leaf, subleaf, a, b, c, d);
  regs[0] = a;
  regs[1] = b;
  regs[2] = c;
  regs[3] = d;
#endif
}

uint64_t ReadXcr0() {
#if defined(_MSC_VER)
  return _xgetbv(0);
#else
  uint32_t lo = 0, hi = 0;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<uint64_t>(hi) << 32) | lo;
#endif
}

CpuFeatures Detect() {
  CpuFeatures f;
  uint32_t r[4] = {0, 0, 0, 0};
  Cpuid(0, 0, r);
  f.max_leaf = r[0];
  char vendor[13] = {0};
  std::memcpy(vendor, &r[1], 4);
  std::memcpy(vendor + 4, &r[3], 4);
  std::memcpy(vendor + 8, &r[2], 4);
  f.vendor = vendor;
  if (f.max_leaf > 0) {
    Cpuid(1, 0, r);
    f.leaf1_ecx = r[2];
    f.leaf1_edx = r[3];
  }
  if (f.max_leaf > 6) {
    Cpuid(7, 0, r);
    f.leaf7_ebx = r[1];
    f.leaf7_ecx = r[2];
  }
  Cpuid(0x80000000u, 0, r);
  f.max_ext_leaf = r[0];
  if (f.max_ext_leaf > 0x80000000u) {
    Cpuid(0x80000001u, 0, r);
    f.ext1_ecx = r[2];
    f.ext1_edx = r[3];
  }
  if (f.max_ext_leaf > 0x80000003u) {
    char brand[49] = {0};
    for (uint32_t i = 0; i < 3; ++i) {
      Cpuid(0x80000002u + i, 0, r);
      std::memcpy(brand + 16 * i, r, 16);
    }
    f.brand = brand;
  }
  const uint32_t ecx = f.leaf1_ecx;
  f.sse2 = (f.leaf1_edx & kEdxSse2) != 0;
  // XGETBV may only be executed when the OS has set CR4.OSXSAVE.
  const bool osxsave = (ecx & kEcxOsxsave) != 0;
  const uint64_t xcr0 = osxsave ? ReadXcr0() : 0;
  const bool ymmSaved = (xcr0 & kXcr0SseAvx) == kXcr0SseAvx;
  const bool zmmSaved = (xcr0 & kXcr0Avx512) == kXcr0Avx512;
  f.avx = ymmSaved && (ecx & kEcxAvx) != 0;
  f.f16c = f.avx && (ecx & kEcxF16c) != 0;
  f.fma = f.avx && (ecx & kEcxFma) != 0;
  f.avx2 = f.avx && (f.leaf7_ebx & kLeaf7EbxAvx2) != 0;
  f.avx512f = f.avx2 && zmmSaved && (f.leaf7_ebx & kLeaf7EbxAvx512f) != 0;
  f.avx512bw = f.avx512f && (f.leaf7_ebx & kLeaf7EbxAvx512bw) != 0;
  f.avx512vnni = f.avx512bw && (f.leaf7_ecx & kLeaf7EcxAvx512Vnni) != 0;
  return f;
}
#else
CpuFeatures Detect() { return CpuFeatures{}; }
#endif

}  // namespace

const CpuFeatures& GetCpuFeatures() {
  static const CpuFeatures features = Detect();
  return features;
}

}  // namespace platform
