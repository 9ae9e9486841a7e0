#include "engine/core/conv.h"

#include "engine/shape.h"

namespace engine {
namespace core {

Conv::Conv(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
    : Conv(desc, tensors, weights, false) {}

Conv::Conv(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights, bool transposed) {
  take_names(desc);
  read_window(desc.params);
  // Three entries: two inputs whose channels follow each other, then the
  // output.
  bind_tensors(desc, tensors, tensor_count(desc) >= 3 ? 2 : 1);
  std::vector<Tensor*> w = find_weights(desc, weights);
  if (!w.empty()) {
    weight = w[0];
    if (w.size() >= 2) {
      bias = w[1];
    } else {
      bias = dummy_zero_bias(weights, transposed ? weight->c : weight->n);
    }
  }
}

bool Conv::use_buffer_weight(opencl::clEngine*) { return kernel_w == 1 && kernel_h == 1; }

int64_t Conv::input_channels() {
  int64_t c = inputs[0]->c;
  for (size_t i = 1; i < inputs.size(); ++i) {
    const Tensor* t = inputs[i];
    if (t->n != inputs[0]->n || t->h != inputs[0]->h || t->w != inputs[0]->w) return 0;
    c += t->c;
  }
  return c;
}

bool Conv::weight_channels(int64_t in_c, int64_t* out_c) {
  if (weight->c != in_c) return fail(kErrWeightShape);
  *out_c = weight->n;
  return true;
}

bool Conv::check_common(int64_t* in_c, int64_t* out_c) {
  if (!require(1, 1)) return false;
  *in_c = input_channels();
  if (*in_c == 0) return fail(kErrInputsDisagree);
  if (weight == nullptr || weight->elements() == 0) return fail(kErrNoWeight);
  if (weight->h != kernel_h || weight->w != kernel_w) return fail(kErrWeightShape);
  if (!weight_channels(*in_c, out_c)) return false;
  if (bias == nullptr || static_cast<int64_t>(bias->elements()) < *out_c) return fail(kErrBias);
  return true;
}

bool Conv::reshape(RunEnv&) {
  int64_t in_c = 0, out_c = 0, oh = 0, ow = 0;
  if (!check_common(&in_c, &out_c)) return false;
  const Tensor* in = inputs[0];
  if (const char* e = sliding_window(in->h, pad_h0, pad_h1, kernel_h, stride_h, dilation_h, &oh))
    return fail(e);
  if (const char* e = sliding_window(in->w, pad_w0, pad_w1, kernel_w, stride_w, dilation_w, &ow))
    return fail(e);
  if (!set_output(0, in->n, oh, ow, out_c, in->layout)) return false;
  flops = 2 * static_cast<int64_t>(weight->elements()) * in->n * oh * ow;
  return true;
}

std::string Conv::config_key() {
  const Tensor* out = outputs.empty() ? nullptr : outputs[0];
  const Tensor* in = inputs.empty() ? nullptr : inputs[0];
  return window_config_key(kernel_h, kernel_w, stride_h, stride_w, out ? out->c : 0,
                           out ? out->h : 0, out ? out->w : 0, in ? in->c : 0);
}

}  // namespace core
}  // namespace engine
