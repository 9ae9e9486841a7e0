// Holder of one JND filter and the shipped weight sets; picks the set for
// each frame.
#pragma once

#include <cstdint>
#include <memory>

#include "jnd/jnd_filter.h"

namespace jnd {

constexpr int kDefaultWeightsId = 2;

class JndNetContext {
 public:
  JndNetContext();

  // Initialises the filter (no cache, run mode 0, automatic device, no
  // external work sizes) with set 2.
  bool init(bool quantised);
  // Switches to the requested set when it changed, then filters once.
  bool run(const uint8_t* src, uint8_t* dst, int width, int height, int stride, int weightsId);

  JndFilterCL& filter() { return *filter_; }
  int currentWeightsId() const { return current_id_; }

 private:
  std::shared_ptr<JndFilterCL> filter_;
  JNDNetWeights sets_[4];
  int current_id_ = kDefaultWeightsId;
};

}  // namespace jnd
