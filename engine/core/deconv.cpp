#include "engine/core/deconv.h"

#include <cstdint>

#include "engine/shape.h"

namespace engine {
namespace core {

const char* const kErrDeconvOutput = "wanted output extent cannot be formed";

DeConv::DeConv(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights)
    : Conv(desc, tensors, weights, true) {
  out_h = desc.params[11];
  out_w = desc.params[12];
}

bool DeConv::weight_channels(int64_t in_c, int64_t* out_c) {
  if (weight->n != in_c) return fail(kErrWeightShape);
  *out_c = weight->c;
  return true;
}

namespace {

// One axis; wanted > 0 derives the pads, else the pads give the extent.
const char* Axis(int64_t in, int64_t kernel, int64_t stride, int64_t dilation, int32_t wanted,
                 int32_t* pad0, int32_t* pad1, int64_t* out) {
  if (stride < 1) return kErrStride;
  if (kernel < 1) return kErrKernel;
  if (wanted < 0) return kErrDeconvOutput;
  // The window a dilated kernel spans; kernel itself at dilation 1.
  const int64_t full = (in - 1) * stride + (kernel - 1) * dilation + 1;
  if (wanted > 0) {
    const int64_t total = full - wanted;
    if (total < 0 || total > INT32_MAX) return kErrDeconvOutput;
    *pad0 = static_cast<int32_t>(total / 2);
    *pad1 = static_cast<int32_t>(total - total / 2);
    *out = wanted;
    return nullptr;
  }
  if (*pad0 < 0 || *pad1 < 0) return kErrNegativePad;
  *out = full - *pad0 - *pad1;
  if (*out < 1) return kErrKernelTooLarge;
  return nullptr;
}

}  // namespace

bool DeConv::reshape(RunEnv&) {
  int64_t in_c = 0, out_c = 0, oh = 0, ow = 0;
  if (!check_common(&in_c, &out_c)) return false;
  const Tensor* in = inputs[0];
  if (const char* e = Axis(in->h, kernel_h, stride_h, dilation_h, out_h, &pad_h0, &pad_h1, &oh)) return fail(e);
  if (const char* e = Axis(in->w, kernel_w, stride_w, dilation_w, out_w, &pad_w0, &pad_w1, &ow)) return fail(e);
  if (!set_output(0, in->n, oh, ow, out_c, in->layout)) return false;
  flops = 2 * static_cast<int64_t>(weight->elements()) * in->n * oh * ow;
  return true;
}

}  // namespace core
}  // namespace engine
