// The CPU convolution kernels shared by Conv, DepthwiseConv and DeConv.
// Every output pixel gathers its taps through per-row and per-column
// source tables, so that forward and transposed convolutions share one
// kernel: a source index of -1 marks a tap outside the input.
//
// One kernel source (conv_tile.inc, over a vector type) is built once per
// path, each in its own file compiled for that instruction set only, and
// the path is chosen at run time from what the processor reports
// (platform/cpu_features):
//   plain    SSE multiply then add, 4 lanes: runs on every x86-64, and is
//            the path the others are checked against
//   wide128  AVX + FMA on 128-bit vectors, 4 lanes
//   avx2     AVX2 + FMA on 256-bit vectors, 8 lanes
//   avx512   AVX-512F on 512-bit vectors, 16 lanes
// The dense kernel holds a tile of several output pixels times several
// output-channel vectors in registers across the input-channel and tap
// loops; its weights are packed [tap][in channel][out channels padded to
// whole vectors of the path].
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

// Extents of a layer's input and output (one image) with a kernel size;
// the tap tables are filled by ForwardTaps or TransposedTaps.
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

// ---- Paths ----------------------------------------------------------------

enum class ConvPath : int32_t { kPlain = 0, kWide128 = 1, kAvx2 = 2, kAvx512 = 3 };
constexpr ConvPath kWidestConvPath = ConvPath::kAvx512;
// Every path, narrowest first.
constexpr ConvPath kConvPaths[] = {ConvPath::kPlain, ConvPath::kWide128, ConvPath::kAvx2,
                                   ConvPath::kAvx512};

// "plain", "wide128", "avx2", "avx512": the last part of a layer's
// placement label.
const char* ConvPathName(ConvPath path);

// Whether this processor (and its OS) runs the path; plain always.
bool ConvPathRuns(ConvPath path);

// The path a run takes: plain when generic (the run environment's
// generic_cpu), else the widest path the processor runs that is not wider
// than `widest`.
ConvPath ChooseConvPath(bool generic, ConvPath widest = kWidestConvPath);

// The layer's view of its geometry handed to a path's kernels: plain
// pointers only, so that the instruction-set files instantiate no library
// template that the rest of the program could end up calling.
struct ConvView {
  int in_h, in_w, in_c;
  int out_h, out_w, out_c;
  int kernel_h, kernel_w;
  const int32_t* row_src;
  const int32_t* col_src;
  // in_c zeros, read for a tap outside the input.
  const float* zeros;
};

// A kernel computes one image.  Dense: weights [kernel_h][kernel_w][in_c]
// [PaddedChannels(out_c, lanes)], zero in the padding lanes.  Depthwise
// (one kernel per channel, out_c == in_c): weights [kernel_h][kernel_w]
// [PaddedChannels(c, lanes)].  Both: bias of PaddedChannels(out_c, lanes)
// values.
using ConvKernel = void (*)(const ConvView& g, const float* in, const float* weights,
                            const float* bias, float* out, Epilogue e);

struct ConvKernels {
  ConvPath path;
  int lanes;  // floats per vector: the padding unit of the packed weights
  ConvKernel dense;
  ConvKernel depthwise;
};

// The kernels of one path (a path the processor lacks must not be run).
const ConvKernels& KernelsFor(ConvPath path);

// Channels rounded up to whole vectors of `lanes` floats.
inline int PaddedChannels(int c, int lanes) { return (c + lanes - 1) / lanes * lanes; }

// The widest path a layer of the convolution family may take (default:
// every path); for benches and tests that compare the paths.
struct ConvPathLimit {
  ConvPath widest_path = kWidestConvPath;
};

// ---- Packed weights ---------------------------------------------------------

// A layer's weights and bias in the layout of one path.  The rule: they
// are packed when a run first needs them and packed again only when the
// weight tensor's or the bias tensor's host data pointer or shape changed,
// or the run takes a path of another vector width.  New values written
// into the same buffers in place are not seen; to change weights, bind a
// tensor with new host data (or reshape it).
class PackedWeights {
 public:
  // Whether the packed form is current for these tensors at this width.
  bool current(const Tensor* weight, const Tensor* bias, int lanes) const;
  // Records the tensors and width the packed form now holds.
  void remember(const Tensor* weight, const Tensor* bias, int lanes);
  int lanes() const { return key_.lanes; }

  std::vector<float> weights, bias;

 private:
  struct Key {
    const float* weight_data = nullptr;
    const float* bias_data = nullptr;
    int32_t wn = 0, wh = 0, ww = 0, wc = 0;
    size_t bias_elements = 0;
    int lanes = 0;
    bool operator==(const Key& o) const;
  };
  static Key KeyOf(const Tensor* weight, const Tensor* bias, int lanes);
  Key key_;
};

// Dense weights: source element (oc, t, ic) at src[oc * s_oc + t * s_t +
// ic * s_ic] for out_c x taps x in_c, into [t][ic][PaddedChannels(out_c,
// lanes)].
void PackDense(const float* src, int out_c, int taps, int in_c, size_t s_oc, size_t s_t,
               size_t s_ic, int lanes, std::vector<float>* packed);
// Depthwise weights [c][t] into [t][PaddedChannels(c, lanes)].
void PackDepthwise(const float* src, int c, int taps, int lanes, std::vector<float>* packed);

// Bias values padded to whole vectors (the bias tensor may hold more).
void PadBias(const Tensor* bias, int out_c, int lanes, std::vector<float>* padded);

// ---- Shared steps of the layers -------------------------------------------

// The input values of a convolution as one float NHWC tensor: the first
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

// Runs a kernel over each of `images` images (NHWC, one after the other)
// with the view of g and the packed weights and bias.
void RunImages(ConvKernel kernel, const ConvGeometry& g, int images, const float* in,
               const PackedWeights& packed, float* out, Epilogue e);

extern const char* const kErrNoInputValues;  // "an input holds no values"
extern const char* const kErrNoWeightValues;  // "the weight holds no values"
extern const char* const kErrNoOutputMemory;  // "output buffer cannot be allocated"

// What the CPU levels of Conv, DeConv and DepthwiseConv keep between runs,
// and the start each of their runs shares.
class ConvLevelState : public ConvPathLimit {
 protected:
  // The operands of one run: the kernels of the path it takes, the input
  // values as floats (GatherInput) and the first output's host memory.
  struct Operands {
    const ConvKernels* kernels;  // its path names the placement
    const float* in;
    float* dst;
  };
  // Fills *op for layer, whose weight is `weight` (generic: the run
  // environment's generic_cpu); false with layer->last_error set when the
  // weight or an input holds no values or the output cannot be allocated.
  bool start_run(Layer* layer, const Tensor* weight, bool generic, Operands* op);

  PackedWeights packed_;
  std::vector<float> input_;
  ConvGeometry geometry_;
};

}  // namespace simd
}  // namespace engine
