// What the processor we run on can do, found once with CPUID.  Code that
// has a faster path for an instruction set extension asks here and picks
// the path at run time; nothing is compiled for the extension globally.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct CpuFeatures {
  bool sse2 = false;
  bool avx = false;   // AVX with the OS saving the YMM state
  bool f16c = false;  // half-precision conversions; needs usable AVX state
  bool fma = false;   // fused multiply-add; needs usable AVX state
  bool avx2 = false;  // 256-bit integer operations; needs usable AVX state
  // AVX-512 foundation (float arithmetic on 512-bit vectors, fused
  // multiply-add included), with the OS saving the opmask and ZMM state.
  bool avx512f = false;
  // The foundation and the byte/word operations; VNNI adds the 16-bit
  // dot-product accumulate.
  bool avx512bw = false;
  bool avx512vnni = false;

  // The identification words as CPUID reported them (zero where the leaf
  // does not exist), for code that keeps its own feature record.
  uint32_t max_leaf = 0;
  uint32_t max_ext_leaf = 0;
  std::string vendor;  // leaf 0: EBX, EDX, ECX
  std::string brand;   // leaves 0x80000002..4 when present
  uint32_t leaf1_ecx = 0, leaf1_edx = 0;
  uint32_t leaf7_ebx = 0, leaf7_ecx = 0;
  uint32_t ext1_ecx = 0, ext1_edx = 0;
};

// Detected on first call, the same record afterwards.
const CpuFeatures& GetCpuFeatures();

}  // namespace platform
