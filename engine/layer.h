// The layer model: the description a layer is built from, the run
// environment it is handed, and the Layer base with its binding rules.
#pragma once

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/tensor.h"

namespace opencl {
class clEngine;
}

namespace engine {

constexpr int kMaxParams = 16;
constexpr int kMaxTensorNames = 8;
constexpr int kMaxWeightNames = 8;

// Plain record a layer is built from; the texts belong to its producer.
struct LayerDesc {
  const char* name = nullptr;
  const char* type = nullptr;
  int32_t params[kMaxParams] = {};
  float alpha = 0.f;
  float beta = 0.f;
  // Whether alpha and beta were given for a Gemm.  A Gemm whose factors
  // were never set computes the plain product plus the bias (alpha 1,
  // beta 1), whatever the two hold; the other layer types read alpha and
  // beta as they are.  Taken from the reserved bytes, so the record keeps
  // its size.
  bool factors_set = false;
  // Unused; keeps the record's size and the offsets of the fields below
  // (on 64-bit targets: tensors at 144, 272 bytes in all).
  unsigned char reserved[55] = {};
  const char* tensors[kMaxTensorNames] = {};  // inputs, then outputs
  const char* weights[kMaxWeightNames] = {};  // names in the WeightMap
};

static_assert(sizeof(void*) != 8 ||
                  (offsetof(LayerDesc, tensors) == 144 && sizeof(LayerDesc) == 272),
              "LayerDesc keeps its layout");

// Shared bias of layers given only a weight: zeros, sized for the largest
// need among them.
extern const char* const kDummyZeroTensor;  // "__dummy_zero_tensor__"

namespace core {

// What run and load_config are handed.  Created by whoever drives the
// layers.
class RunEnv {
 public:
  virtual ~RunEnv() = default;
  bool profile = false;      // time each kernel and print it
  bool tune = false;         // search local work sizes instead of a plain run
  bool generic_cpu = false;  // take the plain CPU paths
  opencl::clEngine* engine = nullptr;
};

}  // namespace core

class Layer {
 public:
  Layer() = default;
  Layer(const Layer&) = delete;
  Layer& operator=(const Layer&) = delete;

  virtual ~Layer();
  virtual bool use_buffer_weight(opencl::clEngine* engine);
  virtual bool run(core::RunEnv& env) = 0;
  // Output shapes from the inputs and the parameters; false (with
  // last_error) when they cannot be formed.
  virtual bool reshape(core::RunEnv& env) = 0;
  virtual std::string config_key();
  virtual void dump_config();
  virtual bool load_config(core::RunEnv& env);

  std::vector<Layer*> next_layers;  // in-place activations on the output
  bool fused = false;
  bool in_place = false;  // input and output are the same tensor
  bool reserved_flag = false;
  int64_t flops = 0;
  std::string type;
  std::string name = "Unknown";
  std::vector<Tensor*> inputs;
  std::vector<Tensor*> outputs;
  float range_max = FLT_MAX;
  float range_min = FLT_MIN;
  // Why the last reshape or run failed.
  std::string last_error;
  // Where and with which kernel the last run computed, e.g.
  // "cpu:conv_avx2"; empty before the first run.
  std::string placement;

 protected:
  // Copies type and name of the description.
  void take_names(const LayerDesc& desc);
  // Binds the description's tensors: the first n_inputs entries are
  // inputs, the rest outputs (n_inputs < 0: all but the last).  Fewer than
  // two entries bind nothing.  With in_place_rule, an input that is also
  // the output joins its producer's next_layers instead.
  void bind_tensors(const LayerDesc& desc, TensorMap& tensors, int n_inputs,
                    bool in_place_rule = false);

  // Failure helpers for reshape: set last_error, answer false.
  bool fail(const char* why);
  bool fail(const std::string& why);
  // Checks that at least n inputs and m outputs are bound (exactly m
  // unless more_outputs: surplus tensor entries would otherwise become
  // outputs nothing writes), that no output is also an input (except for
  // an in-place activation) and that every bound input has a shape.
  bool require(size_t n_inputs, size_t n_outputs, bool more_outputs = false);
  // Sets output i; false when an extent is below 1 or the element count
  // passes kMaxElements.
  bool set_output(size_t i, int64_t n, int64_t h, int64_t w, int64_t c, int32_t layout);
};

// Entries of the description's tensor list (stops at the first null or
// empty name).
int tensor_count(const LayerDesc& desc);
// Weights named by the description that exist in the map, in order; the
// list stops at the first unknown name.
std::vector<Tensor*> find_weights(const LayerDesc& desc, WeightMap& weights);
// The shared zero bias, grown to at least channels values.
Tensor* dummy_zero_bias(WeightMap& weights, int32_t channels);

// Fixed failure texts of shape inference.
extern const char* const kErrMissingTensor;   // "a tensor is missing"
extern const char* const kErrEmptyInput;      // "an input has no shape"
extern const char* const kErrTooLarge;        // "output extent below 1 or too large"
extern const char* const kErrNoComputation;   // "this layer type does not compute yet"
extern const char* const kErrInPlace;         // "an input is also an output"
extern const char* const kErrTensorCount;     // "more tensors than the layer type takes"

}  // namespace engine
