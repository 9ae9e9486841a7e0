// Convolution parameters, weight wiring and output shape.  The output
// keeps the input's batch: each image is convolved on its own.
#pragma once

#include "engine/layer.h"
#include "engine/shape.h"

namespace engine {
namespace core {

class Conv : public virtual Layer, public WindowParams {
 public:
  Conv(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool use_buffer_weight(opencl::clEngine* engine) override;
  bool reshape(RunEnv& env) override;
  std::string config_key() override;

  Tensor* weight = nullptr;
  Tensor* bias = nullptr;

 protected:
  // transposed: the output channel count is the weight's c (for the
  // shared zero bias).
  Conv(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights, bool transposed);
  // Input channels over all inputs; 0 when the inputs disagree.
  int64_t input_channels();
  // Checks the weight against the input channels and gives the output
  // channel count; false with last_error set.
  virtual bool weight_channels(int64_t in_c, int64_t* out_c);
  // Shared part of reshape up to the output extents.
  bool check_common(int64_t* in_c, int64_t* out_c);
};

}  // namespace core
}  // namespace engine
