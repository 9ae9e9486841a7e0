// Channel shuffle with g groups (params 0).
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

class Shuffle : public virtual Layer {
 public:
  Shuffle(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;

  int32_t groups = 0;
};

extern const char* const kErrGroups;  // "group count does not divide the channels"

}  // namespace core
}  // namespace engine
