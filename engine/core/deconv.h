// Transposed convolution: weight n = input channels, c = output channels.
// out_h / out_w, when set, fix the output extent and the padding follows
// from it, each axis on its own.
#pragma once

#include "engine/core/conv.h"

namespace engine {
namespace core {

class DeConv : public Conv {
 public:
  DeConv(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;

  int32_t out_h = 0;  // params 11
  int32_t out_w = 0;  // params 12

 protected:
  bool weight_channels(int64_t in_c, int64_t* out_c) override;
};

extern const char* const kErrDeconvOutput;  // "wanted output extent cannot be formed"

}  // namespace core
}  // namespace engine
