// Channel concatenation: every tensor entry but the last is an input.
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

class Concat : public virtual Layer {
 public:
  Concat(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool use_buffer_weight(opencl::clEngine* engine) override;
  bool reshape(RunEnv& env) override;
};

extern const char* const kErrConcatInputs;  // "needs at least two inputs"

}  // namespace core
}  // namespace engine
