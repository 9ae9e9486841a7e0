#include "platform/cpu_features.h"

#include <cstdint>

#if defined(_WIN32)
#include <intrin.h>
#elif defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace platform {
namespace {

#if defined(_WIN32) || defined(__x86_64__) || defined(__i386__)
constexpr int kEcxOsxsave = 1 << 27;
constexpr int kEcxAvx = 1 << 28;
constexpr int kEcxF16c = 1 << 29;
constexpr int kEdxSse2 = 1 << 26;
// XCR0 bits 1 (SSE state) and 2 (AVX state) must both be enabled by the OS.
constexpr uint64_t kXcr0SseAvx = 0x6;

bool Cpuid1(int regs[4]) {
#if defined(_WIN32)
  __cpuid(regs, 0);
  if (regs[0] < 1) return false;
  __cpuid(regs, 1);
  return true;
#else
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid_max(0, nullptr) < 1) return false;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  regs[0] = static_cast<int>(a);
  regs[1] = static_cast<int>(b);
  regs[2] = static_cast<int>(c);
  regs[3] = static_cast<int>(d);
  return true;
#endif
}

uint64_t ReadXcr0() {
#if defined(_WIN32)
  return _xgetbv(0);
#else
  uint32_t lo = 0, hi = 0;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<uint64_t>(hi) << 32) | lo;
#endif
}

CpuFeatures Detect() {
  CpuFeatures f;
  int regs[4] = {0, 0, 0, 0};
  if (!Cpuid1(regs)) return f;
  const int ecx = regs[2];
  const int edx = regs[3];
  f.sse2 = (edx & kEdxSse2) != 0;
  // XGETBV may only be executed when the OS has set CR4.OSXSAVE.
  const bool osxsave = (ecx & kEcxOsxsave) != 0;
  const bool ymmSaved = osxsave && (ReadXcr0() & kXcr0SseAvx) == kXcr0SseAvx;
  f.avx = ymmSaved && (ecx & kEcxAvx) != 0;
  f.f16c = f.avx && (ecx & kEcxF16c) != 0;
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
