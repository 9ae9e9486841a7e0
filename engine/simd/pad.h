// CPU computation of Pad; the computing code arrives with the CPU
// kernels, until then run reports that it has none.
#pragma once

#include "engine/core/pad.h"

namespace engine {
namespace simd {

class Pad : public core::Pad {
 public:
  using core::Pad::Pad;
  bool run(core::RunEnv&) override { return fail(kErrNoComputation); }
};

}  // namespace simd
}  // namespace engine
