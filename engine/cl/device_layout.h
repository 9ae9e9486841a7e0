// Host-side packing of tensors into the device forms of the OpenCL layers:
// RGBA half images (4 values per texel) in the layouts the kernels read.
//
//   0  activations, bias, some weights: ceil(c/4) * w by n * h texels;
//      texel (x * ceil(c/4) + cb, ni * h + y) holds channels 4cb..4cb+3.
//   6  convolution weights (n out, h x w taps, c in): w * c by ceil(n/4) * h;
//      texel (j * c + ic, ob * h + i) holds out channels 4ob..4ob+3.
//   13 as 6 with x = ic * w + j (input channel major, tap minor).
//   18 as 0 in size; the pixels of a row go in groups of four, and a group
//      keeps its pixels of one channel block in consecutive texels: pixel x
//      of group g = x / 4 (r pixels, 4 except in a short last group) and
//      block cb sits at x' = 4g * ceil(c/4) + cb * r + (x - 4g).
// A DeConv weight is packed with n its input and c its output channels.
#pragma once

#include <cstdint>
#include <vector>

namespace engine {
namespace cl {

constexpr int32_t kLayoutActivation = 0;
constexpr int32_t kLayoutConvWeight = 6;
constexpr int32_t kLayoutFastWeight = 13;
constexpr int32_t kLayoutFourPixel = 18;

struct TexelExtent {
  int width = 0;   // in RGBA texels
  int height = 0;
};

// Image extent of a tensor n x h x w x c in a device layout (0, 6, 13, 18);
// an empty extent for any other layout.
TexelExtent ImageExtent(int32_t layout, int n, int h, int w, int c);

// NHWC floats -> RGBA half texels, row-major, 4 halves per texel, zero
// padding; layouts 0, 6, 13, 18 (empty for any other).
std::vector<uint16_t> PackTexels(int32_t layout, const float* nhwc, int n, int h, int w, int c);

// Layout-0 texels -> NHWC floats, dropping the channel padding.
void UnpackLayout0(const uint16_t* texels, int n, int h, int w, int c, float* nhwc);

// Bias as halves, zero padded to a multiple of 4 values.
std::vector<uint16_t> PackBiasHalves(const float* bias, int channels);

}  // namespace cl
}  // namespace engine
