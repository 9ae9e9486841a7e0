#include "engine/cpu_info.h"

#include "platform/cpu_features.h"

namespace engine {

namespace {

CpuInfo Build() {
  const platform::CpuFeatures& f = platform::GetCpuFeatures();
  CpuInfo info;
  info.max_leaf = f.max_leaf;
  info.max_ext_leaf = f.max_ext_leaf;
  info.vendor = f.vendor;
  info.brand = f.brand;
  info.is_intel = f.vendor == "GenuineIntel";
  info.is_amd = f.vendor == "AuthenticAMD";
  info.leaf1_ecx = f.leaf1_ecx;
  info.leaf1_edx = f.leaf1_edx;
  info.leaf7_ebx = f.leaf7_ebx;
  info.leaf7_ecx = f.leaf7_ecx;
  info.ext1_ecx = f.ext1_ecx;
  info.ext1_edx = f.ext1_edx;
  info.avx_fma = f.avx && f.fma;
  return info;
}

}  // namespace

const CpuInfo& cpu_info() {
  static const CpuInfo info = Build();
  return info;
}

bool use_wide_cpu_path(const core::RunEnv& env) {
  return !env.generic_cpu && cpu_info().avx_fma;
}

}  // namespace engine
