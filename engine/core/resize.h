// Spatial resize ("Resize", "Upsample"): mode 0 nearest, 1 bilinear;
// output extents are the input's times alpha (width) and beta (height),
// rounded half away from zero.
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

enum ResizeMode : int32_t { kResizeNearest = 0, kResizeBilinear = 1 };

class Resize : public virtual Layer {
 public:
  Resize(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;

  int32_t mode = kResizeNearest;
  bool align_corners = false;
  float scale_w = 1.f;
  float scale_h = 1.f;
};

extern const char* const kErrResizeMode;  // "unknown resize mode"

}  // namespace core
}  // namespace engine
