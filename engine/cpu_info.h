// The processor record of the engine's CPU paths, taken from the platform
// detection (one CPUID site in the system).
#pragma once

#include "engine/layer.h"

namespace engine {

struct CpuInfo {
  // AVX and FMA present and the AVX state enabled by the OS (OSXSAVE and
  // XGETBV checked).
  bool avx_fma = false;
};

// Built on first use, safely against concurrent first use.
const CpuInfo& cpu_info();

// The wide CPU variant applies: generic_cpu clear and AVX+FMA usable.
bool use_wide_cpu_path(const core::RunEnv& env);

}  // namespace engine
