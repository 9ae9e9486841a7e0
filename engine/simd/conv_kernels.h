// The CPU convolution kernels shared by Conv, DepthwiseConv and DeConv.
// Every output pixel gathers its taps through per-row and per-column
// source tables, so that forward and transposed convolutions share one
// kernel: a source index of -1 marks a tap outside the input.  Two builds
// of each kernel exist: the wide one (AVX+FMA on 128-bit vectors, chosen at
// run time) and the plain one (SSE multiply and add).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/layer.h"

namespace engine {
namespace simd {

// Activation applied to each value before it is stored (kinds 1, 2 and 6
// of ActivationKind; 0 for none).
struct Epilogue {
  int32_t kind = 0;
  float alpha = 0.f;
};

struct ConvGeometry {
  int in_h = 0, in_w = 0, in_c = 0;
  int out_h = 0, out_w = 0, out_c = 0;
  int kernel_h = 0, kernel_w = 0;
  std::vector<int32_t> row_src;  // out_h x kernel_h: input row of tap i, or -1
  std::vector<int32_t> col_src;  // out_w x kernel_w: input column of tap j, or -1
};

// Extents of a layer's input and output with a kernel size; the tap tables
// are filled by ForwardTaps or TransposedTaps.
inline void SetExtents(ConvGeometry* g, int in_h, int in_w, int in_c, int out_h, int out_w,
                       int out_c, int kernel_h, int kernel_w) {
  g->in_h = in_h;
  g->in_w = in_w;
  g->in_c = in_c;
  g->out_h = out_h;
  g->out_w = out_w;
  g->out_c = out_c;
  g->kernel_h = kernel_h;
  g->kernel_w = kernel_w;
}

// Tap tables of a forward convolution (in = out * stride + tap * dilation
// - pad0) and of a transposed one (out = in * stride + tap * dilation -
// pad0).
void ForwardTaps(ConvGeometry* g, int stride_h, int stride_w, int dilation_h, int dilation_w,
                 int pad_h0, int pad_w0);
void TransposedTaps(ConvGeometry* g, int stride_h, int stride_w, int dilation_h,
                    int dilation_w, int pad_h0, int pad_w0);

// Output channels rounded up to whole 4-lane blocks.
inline int PaddedChannels(int c) { return (c + 3) / 4 * 4; }

// Dense convolution.  weights: [kernel_h][kernel_w][in_c][PaddedChannels
// (out_c)], zero in the padding lanes; bias: PaddedChannels(out_c) values.
void ConvPlain(const ConvGeometry& g, const float* in, const float* weights, const float* bias,
               float* out, Epilogue e);
void ConvWide(const ConvGeometry& g, const float* in, const float* weights, const float* bias,
              float* out, Epilogue e);

// One kernel per channel (out_c == in_c).  weights: [kernel_h][kernel_w]
// [PaddedChannels(c)]; bias: PaddedChannels(c) values.
void DepthwisePlain(const ConvGeometry& g, const float* in, const float* weights,
                    const float* bias, float* out, Epilogue e);
void DepthwiseWide(const ConvGeometry& g, const float* in, const float* weights,
                   const float* bias, float* out, Epilogue e);

// The input values of a convolution as one float NHWC plane: the first
// input's host_data when there is a single float input, else a scratch
// copy holding the inputs' channels one after the other, with byte inputs
// converted as (x - mean[k]) * scale[k] (k the channel, modulo 3).  Null
// with *why set when an input holds no values.
const float* GatherInput(const std::vector<Tensor*>& inputs, std::vector<float>* scratch,
                         std::string* why);

// The values of one input as floats, bytes converted as GatherInput does.
inline const float* InputValues(Tensor* input, std::vector<float>* scratch, std::string* why) {
  return GatherInput(std::vector<Tensor*>{input}, scratch, why);
}

// The activation folded into a convolution's store: the first of
// next_layers when it is an activation of kind 1, 2 or 6, whose fused
// flag is then set.  Kind 0 when there is none to fold.
Epilogue FoldActivation(Layer* layer);

// Bias values padded to whole blocks (the bias tensor may hold more).
void PadBias(const Tensor* bias, int out_c, std::vector<float>* padded);

extern const char* const kErrNoInputValues;  // "an input holds no values"
extern const char* const kErrNoWeightValues;  // "the weight holds no values"
extern const char* const kErrNoOutputMemory;  // "output buffer cannot be allocated"

}  // namespace simd
}  // namespace engine
