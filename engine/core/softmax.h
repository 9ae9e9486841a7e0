// Softmax over the channels of each pixel.
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

class Softmax : public virtual Layer {
 public:
  Softmax(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;
};

}  // namespace core
}  // namespace engine
