#include "engine/simd/gemm.h"

#include "engine/cpu_info.h"
#include "engine/registry.h"
#include "engine/simd/vector_kernels.h"

namespace engine {
namespace simd {

bool Gemm::run(core::RunEnv& env) {
  const bool wide = use_wide_cpu_path(env);
  if (!core::Gemm::reshape(env)) return false;
  if (weight->host_data == nullptr) return fail(kErrNoWeightValues);
  if (bias != nullptr && bias->host_data == nullptr) return fail(kErrNoWeightValues);
  const float* x = InputValues(inputs[0], &input_, &last_error);
  if (x == nullptr) return false;
  float* dst = outputs[0]->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);
  (wide ? GemmWide : GemmPlain)(weight->host_data, x, bias != nullptr ? bias->host_data : nullptr,
                                length_out, length_in, trans_b != 0, alpha, beta, dst);
  placement = wide ? "cpu:gemm_wide" : "cpu:gemm_plain";
  return true;
}

}  // namespace simd

OXRIN_REGISTER_LAYER("Gemm", simd::Gemm);

}  // namespace engine
