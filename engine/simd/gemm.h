// CPU computation of Gemm; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/gemm.h"

namespace engine {
namespace simd {

class Gemm : public core::Gemm {
 public:
  using core::Gemm::Gemm;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
