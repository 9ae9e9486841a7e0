#include "engine/simd/deconv.h"

#include "engine/cpu_info.h"

namespace engine {
namespace simd {

bool DeConv::run(core::RunEnv& env) {
  const bool wide = use_wide_cpu_path(env);
  Tensor* out = outputs[0];
  if (weight->host_data == nullptr) return fail(kErrNoWeightValues);
  const float* in = GatherInput(inputs, &input_, &last_error);
  if (in == nullptr) return false;
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);

  // Weights [ic][i][j][oc] -> [i][j][ic][oc padded to whole blocks].
  const int in_c = weight->n;
  const int oc_n = out->c;
  const int ocp = PaddedChannels(oc_n);
  const int taps = kernel_h * kernel_w;
  packed_.assign(static_cast<size_t>(taps) * in_c * ocp, 0.f);
  for (int ic = 0; ic < in_c; ++ic)
    for (int t = 0; t < taps; ++t)
      for (int oc = 0; oc < oc_n; ++oc)
        packed_[(static_cast<size_t>(t) * in_c + ic) * ocp + oc] =
            weight->host_data[(static_cast<size_t>(ic) * taps + t) * oc_n + oc];
  PadBias(bias, oc_n, &bias_);

  ConvGeometry& g = geometry_;
  SetExtents(&g, inputs[0]->h, inputs[0]->w, in_c, out->h, out->w, oc_n, kernel_h,
             kernel_w);
  TransposedTaps(&g, stride_h, stride_w, dilation_h, dilation_w, pad_h0, pad_w0);

  const Epilogue e = FoldActivation(this);
  if (wide) {
    ConvWide(g, in, packed_.data(), bias_.data(), dst, e);
  } else {
    ConvPlain(g, in, packed_.data(), bias_.data(), dst, e);
  }
  placement = wide ? "cpu:deconv_wide" : "cpu:deconv_plain";
  return true;
}

}  // namespace simd
}  // namespace engine
