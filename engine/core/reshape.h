// Relabels the dimensions: params 0..3 are the target n, h, w, c; one of
// them below 1 is derived from the element count.  Running it lends the
// input's host values to the output (the order of the values does not
// change), so there is no CPU class.
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

class Reshape : public virtual Layer {
 public:
  Reshape(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;
  bool run(RunEnv& env) override;

  int32_t target[4] = {0, 0, 0, 0};
};

extern const char* const kErrReshapeOpen;   // "more than one open dimension"
extern const char* const kErrReshapeCount;  // "element count differs"
extern const char* const kErrReshapeNoValues;  // "the input holds no float values"

}  // namespace core
}  // namespace engine
