// The ONNX reader and importer and everything an imported model reaches:
// the input is the bytes of a model file.  A model that imports is built
// through the layer registry, its inputs filled, then shaped and, while it
// stays small, run on the CPU.  Any stage may refuse with a reason; none
// may crash, read out of bounds or run away.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/layer.h"
#include "fuzz/fuzz_network.h"
#include "tools/netrun/network.h"
#include "tools/netrun/onnx_import.h"
#include "tools/netrun/onnx_reader.h"

namespace {

// Output values times the weight values (or the window for pooling): an
// upper bound of the work of the layer types an import emits.
double Work(const engine::Layer& l, const netrun::LayerEntry& e) {
  double out = 0, in = 0;
  for (const engine::Tensor* t : l.outputs) out += static_cast<double>(t->elements());
  for (const engine::Tensor* t : l.inputs) in += static_cast<double>(t->elements());
  const double window = (1.0 + e.params[0]) * (1.0 + e.params[1]);
  return out * (1.0 + window) * (1.0 + (l.inputs.empty() ? 0 : l.inputs[0]->c)) + in;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  netrun::OnnxModel model;
  std::string error;
  if (!netrun::ParseOnnxModel(data, size, &model, &error)) {
    if (error.empty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  netrun::OnnxImport imported;
  if (!netrun::ImportOnnx(model, {}, &imported, &error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  for (const netrun::OnnxPort& p : imported.inputs) {
    size_t n = 1;
    for (int64_t d : p.dims) n *= static_cast<size_t>(d);
    if (n > fuzznet::kMaxTensorElements) return 0;
  }
  netrun::Network net;
  for (const netrun::OnnxBlob& b : imported.weights)
    if (!net.AddWeight(b.name, b.shape.data(), b.values.data(), &error)) return 0;
  for (const netrun::OnnxBlob& b : imported.constants)
    if (!net.AddConstant(b.name, b.shape.data(), b.values.data(), &error)) return 0;
  if (!net.Build(imported.net, &error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  for (const netrun::OnnxPort& p : imported.inputs) {
    std::vector<float> onnx(static_cast<size_t>(p.memory[0]) * p.memory[1] * p.memory[2] * p.memory[3]);
    for (size_t i = 0; i < onnx.size(); ++i) onnx[i] = fuzznet::Pattern(i);
    std::vector<float> nhwc(onnx.size());
    netrun::OnnxToEngineOrder(onnx.data(), p.memory, nhwc.data());
    if (!net.SetInputValues(p.tensor, nhwc.data(), nhwc.size(), &error)) __builtin_trap();
  }
  fuzznet::ShapeAndRunSmall(net, imported.net.layers, size, Work);
  return 0;
}
