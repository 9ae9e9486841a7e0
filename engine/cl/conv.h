// OpenCL level of Conv: at preparation it chooses one kernel by the input
// form and shape, uploads weights and bias once, and creates its output
// memory; each run then launches that kernel.  A shape no kernel can
// express runs the CPU computation.
#pragma once

#include <memory>

#include "engine/cl/base.h"
#include "engine/simd/conv.h"

namespace engine {
namespace cl {

// What preparation decided for a convolution: the kernel (empty: CPU),
// the weight layout it reads, its global size and whether its output is a
// buffer.
struct ConvPlan {
  std::string kernel;
  int32_t weight_layout = 0;
  bool buffer_out = false;
  bool byte_input = false;
  bool generic_args = false;  // the kernel takes the full window arguments
  bool sub_group = false;
  size_t global[3] = {1, 1, 1};
};

// The kernel choice of Conv, pure: by input form and the layer's window.
// buffer_out: the output's only consumer relabels it (a Reshape).
// sub_groups: the device has fixed 8-lane sub-groups.
ConvPlan PlanConv(const WindowParams& window, int in_h, int in_w, int in_c, int in_layout,
                  int out_c, int out_h, int out_w, bool byte_input, bool buffer_out,
                  bool sub_groups);

class Conv : public simd::Conv, public Base {
 public:
  Conv(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
      : simd::Conv(desc, tensors, weights) {}
  // The class's own answer; the kernel choice asks Base's.
  bool use_buffer_weight(opencl::clEngine* engine) override {
    return simd::Conv::use_buffer_weight(engine);
  }
  // The output shape, then the device preparation; false only when the
  // shape cannot be formed (a layer that cannot go to the device runs on
  // the CPU).
  bool reshape(core::RunEnv& env) override;
  bool run(core::RunEnv& env) override;

  bool buffer_out = false;
  ConvPlan plan;

 protected:
  bool kernel_takes_activation() const override { return true; }

 private:
  bool prepare(core::RunEnv& env) override;
  std::unique_ptr<opencl::ClMemory> weight_mem_, bias_mem_;
};

// The type name whose layers only relabel a tensor.
extern const char* const kTypeReshape;  // "Reshape"

}  // namespace cl
}  // namespace engine
