#include "tools/netrun/network.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>

#include "engine/cl/base.h"
#include "engine/registry.h"

namespace netrun {

Network::~Network() {
  for (engine::Layer* l : layers) delete l;
}

std::string ShapeText(const engine::Tensor& t) {
  return std::to_string(t.n) + "x" + std::to_string(t.h) + "x" + std::to_string(t.w) + "x" +
         std::to_string(t.c);
}

const char* const kErrUnknownType = ": unknown layer type";
const char* const kErrNoTensors = ": needs an input and an output tensor";
const char* const kErrNotProduced = " is neither a network input nor made by an earlier layer";
const char* const kErrMadeTwice = " is a network input or made by an earlier layer already";
const char* const kErrNoShape = ": output shape cannot be formed: ";
const char* const kErrRunFailed = ": run failed: ";
const char* const kErrShapeDisagrees = ": file shape disagrees with the declared shape";

namespace {

bool Fail(std::string* error, const std::string& why) {
  *error = why;
  return false;
}

std::string Named(const LayerEntry& l) { return "layer " + l.name + " (" + l.type + ")"; }

std::string Named(const engine::Layer& l) { return "layer " + l.name + " (" + l.type + ")"; }

// An in-place activation that some earlier layer produces the tensor of:
// it runs from that producer's next_layers.
bool RunsAfterProducer(const engine::Layer* l) {
  if (!l->in_place || l->inputs.empty()) return false;
  const engine::Layer* p = l->inputs[0]->producer;
  if (p == nullptr) return false;
  for (const engine::Layer* n : p->next_layers)
    if (n == l) return true;
  return false;
}

}  // namespace

bool Network::Build(const NetDescription& net, std::string* error) {
  for (const WeightEntry& w : net.weights) {
    NpyArray a;
    std::string why;
    const std::string path = w.file.empty() || w.file[0] == '/' ? w.file : net.folder + "/" + w.file;
    if (!ReadNpy(path, &a, &why)) return Fail(error, "weight " + w.name + ": " + why);
    int32_t dims[4];
    if (a.is_u8 || !Shape4(a.shape, dims))
      return Fail(error, "weight " + w.name + ": needs float32 values in at most four dimensions");
    if (w.has_shape && std::memcmp(dims, w.shape, sizeof dims) != 0)
      return Fail(error, "weight " + w.name + kErrShapeDisagrees);
    engine::Tensor& t = weights[w.name];
    t.name = w.name;
    t.set_shape(dims[0], dims[1], dims[2], dims[3]);
    float* p = t.ensure_host();
    if (p == nullptr) return Fail(error, "weight " + w.name + ": out of memory");
    std::memcpy(p, a.f32.data(), a.f32.size() * sizeof(float));
  }
  std::set<std::string> available(constant_names.begin(), constant_names.end());
  for (const InputEntry& in : net.inputs) {
    engine::Tensor& t = tensors[in.name];
    t.name = in.name;
    t.set_shape(in.shape[0], in.shape[1], in.shape[2], in.shape[3]);
    std::memcpy(t.mean, in.mean, sizeof t.mean);
    std::memcpy(t.scale, in.scale, sizeof t.scale);
    if (in.u8 && t.ensure_u8() == nullptr) return Fail(error, "input " + in.name + ": out of memory");
    available.insert(in.name);
    input_names.push_back(in.name);
  }
  for (size_t i = 0; i < net.layers.size(); ++i) {
    const LayerEntry& entry = net.layers[i];
    engine::LayerFactory make = engine::find_layer(engine::kBackendDefault, entry.type);
    if (make == nullptr) return Fail(error, Named(entry) + kErrUnknownType);
    const engine::LayerDesc d = net.Desc(i);
    engine::Layer* layer = make(d, tensors, weights);
    if (layer == nullptr) return Fail(error, Named(entry) + ": out of memory");
    layers.push_back(layer);
    if (layer->inputs.empty() || layer->outputs.empty())
      return Fail(error, Named(entry) + kErrNoTensors);
    for (const engine::Tensor* t : layer->inputs)
      if (available.count(t->name) == 0)
        return Fail(error, Named(entry) + ": tensor " + t->name +
                               kErrNotProduced);
    // One writer per tensor: a second one would reshape it after the first
    // had fixed the shape it runs on.  A layer writing its own input is left
    // to shape inference (only activations may work in place).
    for (const engine::Tensor* t : layer->outputs)
      if (available.count(t->name) != 0 &&
          std::find(layer->inputs.begin(), layer->inputs.end(), t) == layer->inputs.end())
        return Fail(error, Named(entry) + ": tensor " + t->name + kErrMadeTwice);
    for (const engine::Tensor* t : layer->outputs) available.insert(t->name);
  }
  order.clear();
  for (engine::Layer* l : layers) {
    if (RunsAfterProducer(l)) continue;
    order.push_back(l);
    for (engine::Layer* n : l->next_layers) order.push_back(n);
  }
  return true;
}

bool Network::SetInput(const NpyArray& a, std::string* error) {
  if (input_names.empty()) return Fail(error, "the network has no input");
  engine::Tensor& t = tensors[input_names[0]];
  int32_t dims[4];
  if (!Shape4(a.shape, dims)) return Fail(error, "input array needs one to four dimensions");
  const bool u8 = t.host_u8 != nullptr;
  if (a.is_u8 != u8)
    return Fail(error, std::string("input ") + t.name + " takes " + (u8 ? "uint8" : "float32") +
                           " values");
  t.set_shape(dims[0], dims[1], dims[2], dims[3]);
  if (u8) {
    uint8_t* p = t.ensure_u8();
    if (p == nullptr) return Fail(error, "out of memory");
    std::memcpy(p, a.u8.data(), a.u8.size());
  } else {
    float* p = t.ensure_host();
    if (p == nullptr) return Fail(error, "out of memory");
    std::memcpy(p, a.f32.data(), a.f32.size() * sizeof(float));
  }
  return true;
}

namespace {

bool FillTensor(engine::Tensor& t, const std::string& name, const int32_t shape[4],
                const float* values, std::string* error) {
  t.name = name;
  t.set_shape(shape[0], shape[1], shape[2], shape[3]);
  float* p = t.ensure_host();
  if (p == nullptr) return Fail(error, name + ": extents out of range or out of memory");
  std::memcpy(p, values, t.elements() * sizeof(float));
  return true;
}

}  // namespace

bool Network::AddWeight(const std::string& name, const int32_t shape[4], const float* values,
                        std::string* error) {
  return FillTensor(weights[name], name, shape, values, error);
}

bool Network::AddConstant(const std::string& name, const int32_t shape[4], const float* values,
                          std::string* error) {
  if (!FillTensor(tensors[name], name, shape, values, error)) return false;
  constant_names.push_back(name);
  return true;
}

bool Network::SetInputValues(const std::string& name, const float* values, size_t count,
                             std::string* error) {
  if (std::find(input_names.begin(), input_names.end(), name) == input_names.end())
    return Fail(error, "no network input called " + name);
  engine::Tensor& t = tensors[name];
  if (t.host_u8 != nullptr) return Fail(error, "input " + name + " takes uint8 values");
  if (count != t.elements()) return Fail(error, "input " + name + ": value count disagrees with its shape");
  float* p = t.ensure_host();
  if (p == nullptr) return Fail(error, "out of memory");
  std::memcpy(p, values, count * sizeof(float));
  return true;
}

bool Network::Reshape(engine::core::RunEnv& env, std::string* error) {
  for (engine::Layer* l : order) {
    l->last_error.clear();
    if (!l->reshape(env)) return Fail(error, Named(*l) + kErrNoShape + l->last_error);
  }
  // A layer without a tuned entry keeps its own choice; that is no failure.
  for (engine::Layer* l : order) l->load_config(env);
  return true;
}

bool Network::Run(engine::core::RunEnv& env, std::string* error) {
  seconds.assign(order.size(), 0.0);
  device_timed.assign(order.size(), false);
  for (size_t i = 0; i < order.size(); ++i) {
    engine::Layer* l = order[i];
    l->last_error.clear();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = l->run(env);
    seconds[i] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok) return Fail(error, Named(*l) + kErrRunFailed + l->last_error);
    const auto* d = dynamic_cast<const engine::cl::Base*>(l);
    if (env.profile && d != nullptr && d->on_device && d->kernel.endNs > d->kernel.startNs) {
      seconds[i] = static_cast<double>(d->kernel.endNs - d->kernel.startNs) * 1e-9;
      device_timed[i] = true;
    }
  }
  return true;
}

}  // namespace netrun
