// Network descriptions: a JSON file whose layers map one to one onto
// engine::LayerDesc, with weights in .npy files beside it.
//
//   {
//     "name": "example",
//     "inputs":  [{"name": "image", "shape": [1, 32, 32, 3], "type": "u8",
//                  "mean": [128, 128, 128], "scale": [0.0078125, ...]}],
//     "weights": {"conv1.w": {"file": "conv1_w.npy", "shape": [8, 3, 3, 3]}},
//     "layers":  [{"type": "Conv", "name": "conv1",
//                  "params": [3, 3, 1, 1, 1, 1, 1, 1, 1, 1],
//                  "alpha": 0, "beta": 0,
//                  "tensors": ["image", "c1"], "weights": ["conv1.w"]}]
//   }
//
// Shapes are n, h, w, c.  An input's "type" is "float" (default) or "u8";
// an 8-bit input byte x of channel k stands for (x - mean[k]) * scale[k].
// A Relu, Sigmoid or LeakyRelu without "params" gets its activation kind;
// a Gemm without "alpha" / "beta" gets 1 for each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/layer.h"

namespace netrun {

struct InputEntry {
  std::string name;
  int32_t shape[4] = {1, 1, 1, 1};
  bool u8 = false;
  float mean[3] = {0.f, 0.f, 0.f};
  float scale[3] = {1.f, 1.f, 1.f};
};

struct WeightEntry {
  std::string name;
  std::string file;        // relative to the description's folder
  bool has_shape = false;  // a declared shape the file must match
  int32_t shape[4] = {1, 1, 1, 1};
};

struct LayerEntry {
  std::string type;
  std::string name;
  int32_t params[engine::kMaxParams] = {};
  float alpha = 0.f;
  float beta = 0.f;
  std::vector<std::string> tensors;
  std::vector<std::string> weights;
};

struct NetDescription {
  std::string name;
  std::string folder;  // where weight files are looked up
  std::vector<InputEntry> inputs;
  std::vector<WeightEntry> weights;
  std::vector<LayerEntry> layers;

  // The engine record of layer i; its texts point into this description.
  engine::LayerDesc Desc(size_t i) const;
};

// Parses a description text; false with a reason naming the layer or
// member at fault.
bool ParseNetDescription(const std::string& text, NetDescription* net, std::string* error);
// Reads and parses a file; weight files are looked up beside it.
bool LoadNetDescription(const std::string& path, NetDescription* net, std::string* error);

// The activation kind a type implies when its description gives no params.
int32_t DefaultActivationKind(const std::string& type);

}  // namespace netrun
