// Squeeze: the output is the input, relabelled in layout 0; running it
// lends the input's host buffers to the output.  ref::Squeeze is the
// class the registry builds; it adds nothing.
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

class Squeeze : public virtual Layer {
 public:
  Squeeze(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;
  bool run(RunEnv& env) override;
};

extern const char* const kErrSqueezeNoValues;  // "the input holds no values"

}  // namespace core

namespace ref {

class Squeeze : public core::Squeeze {
 public:
  using core::Squeeze::Squeeze;
};

}  // namespace ref
}  // namespace engine
