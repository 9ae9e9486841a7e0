#include "engine/simd/depthwise_conv.h"

#include "engine/cpu_info.h"

namespace engine {
namespace simd {

bool DepthwiseConv::run(core::RunEnv& env) {
  const bool wide = use_wide_cpu_path(env);
  Tensor* out = outputs[0];
  if (weight->host_data == nullptr) return fail(kErrNoWeightValues);
  const float* in = GatherInput(inputs, &input_, &last_error);
  if (in == nullptr) return false;
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);

  // Weights [c][i][j][1] -> [i][j][c padded to whole blocks].
  const int c = out->c;
  const int cp = PaddedChannels(c);
  const int taps = kernel_h * kernel_w;
  packed_.assign(static_cast<size_t>(taps) * cp, 0.f);
  for (int ch = 0; ch < c; ++ch)
    for (int t = 0; t < taps; ++t)
      packed_[static_cast<size_t>(t) * cp + ch] = weight->host_data[static_cast<size_t>(ch) * taps + t];
  PadBias(bias, c, &bias_);

  ConvGeometry& g = geometry_;
  SetExtents(&g, inputs[0]->h, inputs[0]->w, c, out->h, out->w, c, kernel_h,
             kernel_w);
  ForwardTaps(&g, stride_h, stride_w, dilation_h, dilation_w, pad_h0, pad_w0);

  const Epilogue e = FoldActivation(this);
  if (wide) {
    DepthwiseWide(g, in, packed_.data(), bias_.data(), dst, e);
  } else {
    DepthwisePlain(g, in, packed_.data(), bias_.data(), dst, e);
  }
  placement = wide ? "cpu:depthwise_wide" : "cpu:depthwise_plain";
  return true;
}

}  // namespace simd
}  // namespace engine
