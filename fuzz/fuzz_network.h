// What the fuzz targets that build engine networks share: the values their
// inputs are filled with, the caps that keep one input to milliseconds, and
// the last steps, shaping and a CPU run while the network stays small.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/layer.h"
#include "tools/netrun/net_loader.h"
#include "tools/netrun/network.h"

namespace fuzznet {

constexpr size_t kMaxTensorElements = size_t{1} << 16;
constexpr double kMaxWork = 1 << 24;  // multiply-adds of all layers, roughly

inline float Pattern(size_t i) {
  return static_cast<float>(static_cast<int>(i * 37 % 17) - 8) * 0.125f;
}

inline bool SmallEnough(const engine::Tensor& t) { return t.elements() <= kMaxTensorElements; }

// Shapes net (built from `layers`) and runs it on the CPU, the generic
// path on odd input sizes, unless an output exceeds the tensor cap or the
// layers' work (work(layer, entry)) the work cap.  A refusal that gives no
// reason traps.
template <typename WorkFn>
void ShapeAndRunSmall(netrun::Network& net, const std::vector<netrun::LayerEntry>& layers,
                      size_t input_size, WorkFn work) {
  std::string error;
  engine::core::RunEnv env;
  env.generic_cpu = input_size % 2 == 1;  // both CPU paths
  if (!net.Reshape(env, &error)) {
    if (error.empty()) __builtin_trap();
    return;
  }
  double total = 0;
  for (size_t i = 0; i < net.layers.size(); ++i) {
    for (const engine::Tensor* t : net.layers[i]->outputs)
      if (!SmallEnough(*t)) return;
    total += work(*net.layers[i], layers[i]);
  }
  if (total > kMaxWork) return;
  if (!net.Run(env, &error) && error.empty()) __builtin_trap();
}

}  // namespace fuzznet
