// Max and average pooling; "GlobalAveragePool" takes the whole input as
// its window.
#pragma once

#include "engine/layer.h"

namespace engine {
namespace core {

class Pooling : public virtual Layer {
 public:
  Pooling(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;
  std::string config_key() override;

  bool is_global() const { return global; }
  bool is_average() const { return average; }

  int32_t kernel_w = 0, kernel_h = 0;
  int32_t pad_w0 = 0, pad_w1 = 0, pad_h0 = 0, pad_h1 = 0;
  int32_t stride_w = 0, stride_h = 0;
  int32_t dilation_w = 1, dilation_h = 1;

 private:
  bool global = false;
  bool average = false;
};

extern const char* const kTypeGlobalAveragePool;  // "GlobalAveragePool"
extern const char* const kTypeAveragePool;        // "AveragePool"

}  // namespace core
}  // namespace engine
