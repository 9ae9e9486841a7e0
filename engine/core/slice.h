// Range copy along h, w and c: params 0..8 are (start, end, step) for h,
// then w, then c.  A start of -1 takes the whole axis; an end past the
// extent stops at it; sizes round up (0:5:2 gives 3).
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

class Slice : public virtual Layer {
 public:
  Slice(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;

  enum Axis { kH = 0, kW = 1, kC = 2 };
  // As described.
  int32_t start[3] = {0, 0, 0}, end[3] = {0, 0, 0}, step[3] = {1, 1, 1};
  // In effect after the last reshape.
  int32_t from[3] = {0, 0, 0}, to[3] = {0, 0, 0}, by[3] = {1, 1, 1};
};

extern const char* const kErrSliceStep;   // "slice step below 1"
extern const char* const kErrSliceRange;  // "slice range empty or outside the input"

}  // namespace core
}  // namespace engine
