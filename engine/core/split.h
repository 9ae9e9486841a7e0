// Equal channel parts, one per output.
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

class Split : public virtual Layer {
 public:
  Split(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;
};

extern const char* const kErrSplitParts;  // "outputs do not divide the channels"

}  // namespace core
}  // namespace engine
