// Spatial padding: params 0..3 are the left, right, top and bottom pads.
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

class Pad : public virtual Layer {
 public:
  Pad(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;

  int32_t pad_w0 = 0, pad_w1 = 0, pad_h0 = 0, pad_h1 = 0;
};

}  // namespace core
}  // namespace engine
