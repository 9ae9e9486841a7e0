#include "engine/simd/conv.h"

#include <string>

namespace engine {
namespace simd {

const char* const kConvPlacement = "cpu:conv_";

bool Conv::run(core::RunEnv& env) {
  const ConvPath path = ChooseConvPath(env.generic_cpu, widest_path);
  const ConvKernels& kernels = KernelsFor(path);
  Tensor* out = outputs[0];
  if (weight->host_data == nullptr) return fail(kErrNoWeightValues);
  const float* in = GatherInput(inputs, &input_, &last_error);
  if (in == nullptr) return false;
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);

  // Weights [oc][i][j][ic] -> [i][j][ic][oc padded to whole vectors].
  const int in_c = weight->c;
  const int oc_n = out->c;
  const int taps = kernel_h * kernel_w;
  if (!packed_.current(weight, bias, kernels.lanes)) {
    PackDense(weight->host_data, oc_n, taps, in_c, static_cast<size_t>(taps) * in_c, in_c, 1,
              kernels.lanes, &packed_.weights);
    PadBias(bias, oc_n, kernels.lanes, &packed_.bias);
    packed_.remember(weight, bias, kernels.lanes);
  }

  ConvGeometry& g = geometry_;
  SetExtents(&g, inputs[0]->h, inputs[0]->w, in_c, out->h, out->w, oc_n, kernel_h, kernel_w);
  ForwardTaps(&g, stride_h, stride_w, dilation_h, dilation_w, pad_h0, pad_w0);
  RunImages(kernels.dense, g, out->n, in, packed_, dst, FoldActivation(this));
  placement = std::string(kConvPlacement) + ConvPathName(path);
  return true;
}

}  // namespace simd
}  // namespace engine
