#include "engine/layer.h"

#include <algorithm>

namespace engine {

const char* const kDummyZeroTensor = "__dummy_zero_tensor__";
const char* const kErrMissingTensor = "a tensor is missing";
const char* const kErrEmptyInput = "an input has no shape";
const char* const kErrTooLarge = "output extent below 1 or too large";
const char* const kErrNoComputation = "this layer type does not compute yet";
const char* const kErrInPlace = "an input is also an output";
const char* const kErrTensorCount = "more tensors than the layer type takes";

Layer::~Layer() = default;
bool Layer::use_buffer_weight(opencl::clEngine*) { return false; }
std::string Layer::config_key() { return std::string(); }
void Layer::dump_config() {}
bool Layer::load_config(core::RunEnv&) { return true; }

void Layer::take_names(const LayerDesc& desc) {
  if (desc.type != nullptr) type = desc.type;
  if (desc.name != nullptr) name = desc.name;
}

int tensor_count(const LayerDesc& desc) {
  int n = 0;
  while (n < kMaxTensorNames && desc.tensors[n] != nullptr && desc.tensors[n][0] != '\0') ++n;
  return n;
}

std::vector<Tensor*> find_weights(const LayerDesc& desc, WeightMap& weights) {
  std::vector<Tensor*> found;
  for (int i = 0; i < kMaxWeightNames; ++i) {
    const char* nm = desc.weights[i];
    if (nm == nullptr || nm[0] == '\0') break;
    auto it = weights.find(nm);
    if (it == weights.end()) break;
    found.push_back(&it->second);
  }
  return found;
}

Tensor* dummy_zero_bias(WeightMap& weights, int32_t channels) {
  Tensor& t = weights[kDummyZeroTensor];
  t.name = kDummyZeroTensor;
  const int32_t c = std::max({channels, t.c, 1});
  if (t.c != c) t.set_shape(1, 1, 1, c);
  // Regrowing gives zeros again: new buffers are zero-filled.
  t.ensure_host();
  return &t;
}

void Layer::bind_tensors(const LayerDesc& desc, TensorMap& tensors, int n_inputs,
                         bool in_place_rule) {
  const int total = tensor_count(desc);
  if (total < 2) return;
  if (n_inputs < 0 || n_inputs >= total) n_inputs = total - 1;
  for (int i = 0; i < total; ++i) {
    Tensor& t = tensors[desc.tensors[i]];
    t.name = desc.tensors[i];
    (i < n_inputs ? inputs : outputs).push_back(&t);
  }
  if (in_place_rule && inputs.size() == 1 && outputs.size() == 1 && inputs[0] == outputs[0]) {
    in_place = true;
    Layer* producer = inputs[0]->producer;
    if (producer != nullptr) {
      auto& nl = producer->next_layers;
      if (std::find(nl.begin(), nl.end(), this) == nl.end()) nl.push_back(this);
    } else {
      // A network input worked on in place: an ordinary consumer.
      inputs[0]->consumers.push_back(this);
    }
    return;
  }
  for (Tensor* t : inputs) t->consumers.push_back(this);
  for (Tensor* t : outputs) t->producer = this;
}

bool Layer::fail(const char* why) {
  last_error = why;
  return false;
}

bool Layer::fail(const std::string& why) {
  last_error = why;
  return false;
}

bool Layer::require(size_t n_in, size_t n_out, bool more_outputs) {
  if (inputs.size() < n_in || outputs.size() < n_out) return fail(kErrMissingTensor);
  if (!more_outputs && outputs.size() > n_out) return fail(kErrTensorCount);
  // Only the activations work in place; any other layer would resize its
  // own input while reading it.
  if (!in_place)
    for (const Tensor* o : outputs)
      if (std::find(inputs.begin(), inputs.end(), o) != inputs.end()) return fail(kErrInPlace);
  for (Tensor* t : inputs)
    if (t->n < 1 || t->h < 1 || t->w < 1 || t->c < 1) return fail(kErrEmptyInput);
  return true;
}

bool Layer::set_output(size_t i, int64_t n, int64_t h, int64_t w, int64_t c, int32_t layout) {
  if (i >= outputs.size()) return fail(kErrMissingTensor);
  if (n < 1 || h < 1 || w < 1 || c < 1) return fail(kErrTooLarge);
  if (n > kMaxElements || h > kMaxElements || w > kMaxElements || c > kMaxElements ||
      n * h > kMaxElements || n * h * w > kMaxElements || n * h * w * c > kMaxElements)
    return fail(kErrTooLarge);
  Tensor* t = outputs[i];
  t->set_shape(static_cast<int32_t>(n), static_cast<int32_t>(h), static_cast<int32_t>(w),
               static_cast<int32_t>(c));
  t->layout = layout;
  return true;
}

}  // namespace engine
