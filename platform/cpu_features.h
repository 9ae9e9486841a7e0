// What the processor we run on can do, found once with CPUID.  Code that
// has a faster path for an instruction set extension asks here and picks
// the path at run time; nothing is compiled for the extension globally.
#pragma once

namespace platform {

struct CpuFeatures {
  bool sse2 = false;
  bool avx = false;   // AVX with the OS saving the YMM state
  bool f16c = false;  // half-precision conversions; needs usable AVX state
};

// Detected on first call, the same record afterwards.
const CpuFeatures& GetCpuFeatures();

}  // namespace platform
