// OpenCL level of Reshape: kernel choice and launch arrive with the device
// kernels; until then the layer stays off the device.
#pragma once

#include "engine/cl/base.h"
#include "engine/core/reshape.h"

namespace engine {
namespace cl {

class Reshape : public core::Reshape, public Base {
 public:
  Reshape(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : core::Reshape(desc, tensors, weights) {}
  // Off the device the core relabelling runs.
  bool run(core::RunEnv& env) override { return core::Reshape::run(env); }
};

}  // namespace cl
}  // namespace engine
