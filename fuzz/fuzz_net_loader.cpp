// The network description loader and everything a description reaches:
// the input is a description text.  An accepted one is built through the
// layer registry with its weights made up from their declared shapes (no
// files are read), its float inputs filled, then shaped and, while it stays
// small, run on the CPU.  Any layer may refuse with a reason; none may
// crash, read out of bounds or run away.
#include <cmath>
#include <cstdint>
#include <string>

#include "engine/layer.h"
#include "fuzz/fuzz_network.h"
#include "tools/netrun/net_loader.h"
#include "tools/netrun/network.h"

namespace {

using fuzznet::kMaxTensorElements;
using fuzznet::Pattern;
using fuzznet::SmallEnough;

// A rough multiply-add count: output values times window taps times input
// channels for the windowed types, output values otherwise.
double Work(const engine::Layer& l, const netrun::LayerEntry& e) {
  double out = 0;
  for (const engine::Tensor* t : l.outputs) out += static_cast<double>(t->elements());
  double in_c = 1;
  for (const engine::Tensor* t : l.inputs) in_c += t->c;
  if (e.type == "GlobalAveragePool" && !l.inputs.empty())
    return out * l.inputs[0]->h * l.inputs[0]->w;
  if (e.type == "Conv" || e.type == "DepthwiseConv" || e.type == "ConvTranspose" ||
      e.type == "MaxPool" || e.type == "AveragePool")
    return out * (1.0 + std::abs(static_cast<double>(e.params[0]))) *
           (1.0 + std::abs(static_cast<double>(e.params[1]))) * in_c;
  return out * in_c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  netrun::NetDescription desc;
  std::string error;
  if (!netrun::ParseNetDescription(std::string(reinterpret_cast<const char*>(data), size), &desc,
                                   &error)) {
    if (error.empty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  netrun::Network net;
  // Weights from their declared shapes (1x1x1x1 without one), never from
  // files; Build then loads none.
  for (const netrun::WeightEntry& w : desc.weights) {
    engine::Tensor& t = net.weights[w.name];
    t.name = w.name;
    t.set_shape(w.shape[0], w.shape[1], w.shape[2], w.shape[3]);
    if (!SmallEnough(t)) return 0;
    float* p = t.ensure_host();
    for (size_t i = 0; i < t.elements(); ++i) p[i] = Pattern(i);
  }
  desc.weights.clear();
  for (const netrun::InputEntry& in : desc.inputs)
    if (static_cast<size_t>(in.shape[0]) * in.shape[1] * in.shape[2] * in.shape[3] >
        kMaxTensorElements)
      return 0;
  if (!net.Build(desc, &error)) return 0;
  for (const std::string& name : net.input_names) {
    engine::Tensor& t = net.tensors[name];
    if (t.host_u8 != nullptr) continue;
    float* p = t.ensure_host();
    for (size_t i = 0; p != nullptr && i < t.elements(); ++i) p[i] = Pattern(i);
  }
  fuzznet::ShapeAndRunSmall(net, desc.layers, size, Work);
  return 0;
}
