// Converts an 8-bit input of up to 3 channels to values (x - mean[k]) *
// scale[k], with the input tensor's mean and scale; output channels past
// the input's (at most 4 in all) get the fill value alpha.
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

class Normalize : public virtual Layer {
 public:
  Normalize(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;

  int32_t out_channels = 0;  // params 0; 0 keeps the input's
  float fill = 0.f;
};

extern const char* const kErrNormalizeChannels;  // "input 1 to 3 channels, output up to 4"

}  // namespace core
}  // namespace engine
