// Max and average pooling; "GlobalAveragePool" takes the whole input as
// its window.  The output keeps the input's batch: each image is pooled
// on its own.
#pragma once

#include "engine/layer.h"
#include "engine/shape.h"

namespace engine {
namespace core {

class Pooling : public virtual Layer, public WindowParams {
 public:
  Pooling(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights);
  bool reshape(RunEnv& env) override;
  std::string config_key() override;

  bool is_global() const { return global; }
  bool is_average() const { return average; }


 private:
  bool global = false;
  bool average = false;
};

extern const char* const kTypeGlobalAveragePool;  // "GlobalAveragePool"
extern const char* const kTypeAveragePool;        // "AveragePool"

}  // namespace core
}  // namespace engine
