#include "engine/simd/deconv.h"

#include <string>

namespace engine {
namespace simd {

const char* const kDeconvPlacement = "cpu:deconv_";

bool DeConv::run(core::RunEnv& env) {
  Operands op;
  if (!start_run(this, weight, env.generic_cpu, &op)) return false;
  const ConvKernels& kernels = *op.kernels;
  Tensor* out = outputs[0];

  // Weights [ic][i][j][oc] -> [i][j][ic][oc padded to whole vectors].
  const int in_c = weight->n;
  const int oc_n = out->c;
  const int taps = kernel_h * kernel_w;
  if (!packed_.current(weight, bias, kernels.lanes)) {
    PackDense(weight->host_data, oc_n, taps, in_c, 1, oc_n, static_cast<size_t>(taps) * oc_n,
              kernels.lanes, &packed_.weights);
    PadBias(bias, oc_n, kernels.lanes, &packed_.bias);
    packed_.remember(weight, bias, kernels.lanes);
  }

  ConvGeometry& g = geometry_;
  SetExtents(&g, inputs[0]->h, inputs[0]->w, in_c, out->h, out->w, oc_n, kernel_h, kernel_w);
  TransposedTaps(&g, stride_h, stride_w, dilation_h, dilation_w, pad_h0, pad_w0);
  RunImages(kernels.dense, g, out->n, op.in, packed_, op.dst, FoldActivation(this));
  placement = std::string(kDeconvPlacement) + ConvPathName(kernels.path);
  return true;
}

}  // namespace simd
}  // namespace engine
