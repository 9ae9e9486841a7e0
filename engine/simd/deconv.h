// CPU computation of DeConv; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/deconv.h"

namespace engine {
namespace simd {

class DeConv : public core::DeConv {
 public:
  using core::DeConv::DeConv;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
