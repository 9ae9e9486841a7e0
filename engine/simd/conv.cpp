#include "engine/simd/conv.h"

#include "engine/cpu_info.h"

namespace engine {
namespace simd {

ConvChoice ChooseConvKernel(int kernel_w, int kernel_h, int stride_w, int stride_h,
                            int dilation_w, int dilation_h, int pad_w0, int in_c, int out_c,
                            bool wide, bool generic) {
  const bool dilated = dilation_w > 1 || dilation_h > 1;
  if (!generic && out_c == 1 && in_c == 2) return {"conv_single_out", false};
  if (!dilated && kernel_w == 3 && kernel_h == 3 && stride_w == 2 && stride_h == 2 &&
      pad_w0 == 1) {
    if (in_c == 3) return {"conv3x3_s2_c3", true};
    if (in_c == 1) return {"conv3x3_s2_c1", true};
  }
  if (!dilated && out_c == 1) return {"conv_single_out", false};
  const int large = wide ? 16 : 8;
  if (!dilated && kernel_w == 1 && kernel_h == 1 && out_c >= 4)
    return {out_c >= large ? "conv1x1_large" : "conv1x1_small", true};
  if (!dilated) {
    if (out_c % large == 0) return {"conv_block_large", true};
    if (out_c >= 2) return {"conv_block_small", true};
    return {"conv_scalar", false};
  }
  if (out_c % large == 0) return {"conv_dilated_large", true};
  if (out_c % 4 == 0) return {"conv_dilated_small", true};
  return {"conv_scalar", false};
}

bool Conv::run(core::RunEnv& env) {
  const bool wide = use_wide_cpu_path(env);
  Tensor* out = outputs[0];
  const int in_c = weight->c;
  const ConvChoice choice = ChooseConvKernel(kernel_w, kernel_h, stride_w, stride_h, dilation_w,
                                             dilation_h, pad_w0, in_c, out->c, wide,
                                             env.generic_cpu);
  if (weight->host_data == nullptr) return fail(kErrNoWeightValues);
  const float* in = GatherInput(inputs, &input_, &last_error);
  if (in == nullptr) return false;
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);

  // Weights [oc][i][j][ic] -> [i][j][ic][oc padded to whole blocks].
  const int oc_n = out->c;
  const int ocp = PaddedChannels(oc_n);
  const int taps = kernel_h * kernel_w;
  packed_.assign(static_cast<size_t>(taps) * in_c * ocp, 0.f);
  const float* wsrc = weight->host_data;
  for (int oc = 0; oc < oc_n; ++oc)
    for (int t = 0; t < taps; ++t)
      for (int ic = 0; ic < in_c; ++ic)
        packed_[(static_cast<size_t>(t) * in_c + ic) * ocp + oc] =
            wsrc[(static_cast<size_t>(oc) * taps + t) * in_c + ic];
  PadBias(bias, oc_n, &bias_);

  ConvGeometry& g = geometry_;
  SetExtents(&g, inputs[0]->h, inputs[0]->w, in_c, out->h, out->w, oc_n, kernel_h,
             kernel_w);
  ForwardTaps(&g, stride_h, stride_w, dilation_h, dilation_w, pad_h0, pad_w0);

  const Epilogue e = choice.folds ? FoldActivation(this) : Epilogue{};
  if (wide) {
    ConvWide(g, in, packed_.data(), bias_.data(), dst, e);
  } else {
    ConvPlain(g, in, packed_.data(), bias_.data(), dst, e);
  }
  placement = std::string("cpu:") + choice.kernel + (wide ? "_wide" : "_plain");
  return true;
}

}  // namespace simd
}  // namespace engine
