// The processor record of the engine's CPU paths, taken from the platform
// detection (one CPUID site in the system).
#pragma once

#include <cstdint>
#include <string>

#include "engine/layer.h"

namespace engine {

struct CpuInfo {
  uint32_t max_leaf = 0;
  uint32_t max_ext_leaf = 0;
  std::string vendor;
  std::string brand;
  bool is_intel = false;
  bool is_amd = false;
  uint32_t leaf1_ecx = 0, leaf1_edx = 0;
  uint32_t leaf7_ebx = 0, leaf7_ecx = 0;
  uint32_t ext1_ecx = 0, ext1_edx = 0;
  // AVX and FMA present and the AVX state enabled by the OS (OSXSAVE and
  // XGETBV checked).
  bool avx_fma = false;
};

// Built on first use, safely against concurrent first use.
const CpuInfo& cpu_info();

// The wide CPU variant applies: generic_cpu clear and AVX+FMA usable.
bool use_wide_cpu_path(const core::RunEnv& env);

}  // namespace engine
