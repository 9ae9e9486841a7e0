// OpenCL level of ShuffleSplit2, on images.  Its three tensor forms (one
// input to one output, two inputs to one output, two inputs to two
// outputs) all take one kernel with two input and two output slots: a
// single input fills both input slots, a single output both output slots
// (the kernel writes only the first).  With half channel count e (input
// 0's c with two inputs of equal c, half of it with one) a multiple of 4,
// e groups take "shuffle_split2_half" and 2 groups "shuffle_split2_2";
// anything else runs the CPU computation.
#pragma once

#include "engine/cl/base.h"
#include "engine/simd/shuffle_split2.h"

namespace engine {
namespace cl {

class ShuffleSplit2 : public DeviceLayer<simd::ShuffleSplit2> {
 public:
  using DeviceLayer::DeviceLayer;

 protected:
  void before_launch() override;

 private:
  bool prepare(core::RunEnv& env) override;
};

}  // namespace cl
}  // namespace engine
