#include "engine/simd/depthwise_conv.h"

#include <string>

namespace engine {
namespace simd {

const char* const kDepthwisePlacement = "cpu:depthwise_";

bool DepthwiseConv::run(core::RunEnv& env) {
  Operands op;
  if (!start_run(this, weight, env.generic_cpu, &op)) return false;
  const ConvKernels& kernels = *op.kernels;
  Tensor* out = outputs[0];

  // Weights [c][i][j][1] -> [i][j][c padded to whole vectors].
  const int c = out->c;
  if (!packed_.current(weight, bias, kernels.lanes)) {
    PackDepthwise(weight->host_data, c, kernel_h * kernel_w, kernels.lanes, &packed_.weights);
    PadBias(bias, c, kernels.lanes, &packed_.bias);
    packed_.remember(weight, bias, kernels.lanes);
  }

  ConvGeometry& g = geometry_;
  SetExtents(&g, inputs[0]->h, inputs[0]->w, c, out->h, out->w, c, kernel_h, kernel_w);
  ForwardTaps(&g, stride_h, stride_w, dilation_h, dilation_w, pad_h0, pad_w0);
  RunImages(kernels.depthwise, g, out->n, op.in, packed_, op.dst, FoldActivation(this));
  placement = std::string(kDepthwisePlacement) + ConvPathName(kernels.path);
  return true;
}

}  // namespace simd
}  // namespace engine
