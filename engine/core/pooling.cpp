#include "engine/core/pooling.h"

#include "engine/shape.h"

namespace engine {
namespace core {

const char* const kTypeGlobalAveragePool = "GlobalAveragePool";
const char* const kTypeAveragePool = "AveragePool";

Pooling::Pooling(const LayerDesc& desc, TensorMap& tensors, WeightMap&) {
  take_names(desc);
  read_window(desc.params);
  global = type == kTypeGlobalAveragePool;
  average = global || type == kTypeAveragePool;
  bind_tensors(desc, tensors, 1);
}

bool Pooling::reshape(RunEnv&) {
  if (!require(1, 1)) return false;
  const Tensor* in = inputs[0];
  if (global) {
    kernel_w = in->w;
    kernel_h = in->h;
    pad_w0 = pad_w1 = pad_h0 = pad_h1 = 0;
    stride_w = stride_h = 1;
    dilation_w = dilation_h = 1;
  }
  int64_t oh = 0, ow = 0;
  if (const char* e = sliding_window(in->h, pad_h0, pad_h1, kernel_h, stride_h, dilation_h, &oh))
    return fail(e);
  if (const char* e = sliding_window(in->w, pad_w0, pad_w1, kernel_w, stride_w, dilation_w, &ow))
    return fail(e);
  return set_output(0, in->n, oh, ow, in->c, in->layout);
}

std::string Pooling::config_key() {
  const Tensor* out = outputs.empty() ? nullptr : outputs[0];
  const Tensor* in = inputs.empty() ? nullptr : inputs[0];
  return window_config_key(kernel_h, kernel_w, stride_h, stride_w, out ? out->c : 0,
                           out ? out->h : 0, out ? out->w : 0, in ? in->c : 0);
}

}  // namespace core
}  // namespace engine
