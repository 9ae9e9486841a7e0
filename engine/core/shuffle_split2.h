// Channel shuffle (g groups, params 0) over the concatenation of one or
// two inputs, written in equal channel parts to one or two outputs.  The
// tensor list reads: two entries 1 -> 1, three entries 2 -> 1, four
// entries 2 -> 2.
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

class ShuffleSplit2 : public virtual Layer {
 public:
  ShuffleSplit2(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;

  int32_t groups = 0;
};

extern const char* const kErrShuffleSplitForm;  // "takes one or two inputs and outputs"

}  // namespace core
}  // namespace engine
