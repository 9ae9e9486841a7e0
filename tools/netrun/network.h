// A network built from a description through the layer registry: its
// tensors, weights and layers, in description order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/layer.h"
#include "tools/netrun/net_loader.h"
#include "tools/netrun/npy.h"

namespace netrun {

class Network {
 public:
  Network() = default;
  ~Network();
  Network(const Network&) = delete;
  Network& operator=(const Network&) = delete;

  // Loads the weight files (checked against their declared shapes), sets
  // up the inputs and builds every layer; false with a reason naming the
  // layer for an unknown type or a tensor that nothing produces.
  bool Build(const NetDescription& net, std::string* error);
  // Replaces input 0's shape and values by an array.
  bool SetInput(const NpyArray& array, std::string* error);
  // Before Build: a weight (n, h, w, c extents, NHWC values) the layers
  // find by name, beside those the description's files give.
  bool AddWeight(const std::string& name, const int32_t shape[4], const float* values,
                 std::string* error);
  // Before Build: a tensor holding fixed values that layers take as an
  // input, like a network input that is never replaced.
  bool AddConstant(const std::string& name, const int32_t shape[4], const float* values,
                   std::string* error);
  // Replaces the float values of the network input called name; its
  // extents must stay as built.
  bool SetInputValues(const std::string& name, const float* values, size_t count,
                      std::string* error);
  // Shape inference over all layers in run order, then each layer's
  // load_config (its tuned work sizes, where the environment has some);
  // false names the layer.
  bool Reshape(engine::core::RunEnv& env, std::string* error);
  // Runs all layers in run order, timing each; false names the layer.
  bool Run(engine::core::RunEnv& env, std::string* error);

  // The layers in the order they run: description order, except that an
  // in-place activation runs right after the layer that produces its
  // tensor (so that a folded activation and its producer stay together).
  std::vector<engine::Layer*> order;
  // Seconds the last Run spent in each layer of `order`: the kernel's
  // execution from OpenCL profiling for a layer that ran on the device with
  // profiling on (device_timed), else the wall time of its run.
  std::vector<double> seconds;
  std::vector<bool> device_timed;

  engine::TensorMap tensors;
  engine::WeightMap weights;
  std::vector<engine::Layer*> layers;  // owned
  std::vector<std::string> input_names;
  std::vector<std::string> constant_names;
};

// "1x32x32x3"
std::string ShapeText(const engine::Tensor& t);

// Fixed parts of the texts Build, Reshape and Run fail with.
extern const char* const kErrUnknownType;     // ": unknown layer type"
extern const char* const kErrNoTensors;       // ": needs an input and an output tensor"
extern const char* const kErrNotProduced;     // " is neither a network input nor ..."
extern const char* const kErrMadeTwice;       // " is a network input or made by ... already"
extern const char* const kErrNoShape;         // ": output shape cannot be formed: "
extern const char* const kErrRunFailed;       // ": run failed: "
extern const char* const kErrShapeDisagrees;  // ": file shape disagrees with the declared shape"

}  // namespace netrun
