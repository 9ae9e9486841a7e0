#include "engine/cpu_info.h"

#include "platform/cpu_features.h"

namespace engine {

namespace {

CpuInfo Build() {
  const platform::CpuFeatures& f = platform::GetCpuFeatures();
  CpuInfo info;
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
