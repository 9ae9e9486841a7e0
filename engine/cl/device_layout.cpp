#include "engine/cl/device_layout.h"

#include <algorithm>
#include <cstddef>

#include "opencl/half.h"

namespace engine {
namespace cl {

namespace {

int Blocks(int c) { return (c + 3) / 4; }

// Texel column of pixel x, channel block cb, in a row of layout 0 or 18.
int ActivationColumn(int32_t layout, int x, int cb, int w, int blocks) {
  if (layout != kLayoutFourPixel) return x * blocks + cb;
  const int group = x / 4 * 4;
  const int count = std::min(4, w - group);
  return group * blocks + cb * count + (x - group);
}

}  // namespace

TexelExtent ImageExtent(int32_t layout, int n, int h, int w, int c) {
  TexelExtent e;
  if (n <= 0 || h <= 0 || w <= 0 || c <= 0) return e;
  switch (layout) {
    case kLayoutActivation:
    case kLayoutFourPixel:
      e.width = Blocks(c) * w;
      e.height = n * h;
      break;
    case kLayoutConvWeight:
    case kLayoutFastWeight:
      e.width = w * c;
      e.height = Blocks(n) * h;
      break;
    default:
      break;
  }
  return e;
}

std::vector<uint16_t> PackTexels(int32_t layout, const float* nhwc, int n, int h, int w, int c) {
  const TexelExtent e = ImageExtent(layout, n, h, w, c);
  std::vector<uint16_t> texels(static_cast<size_t>(e.width) * e.height * 4, 0);
  if (texels.empty() || nhwc == nullptr) return texels;
  const int blocks = Blocks(c);
  for (int ni = 0; ni < n; ++ni) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        for (int ch = 0; ch < c; ++ch) {
          const float v = nhwc[((static_cast<size_t>(ni) * h + y) * w + x) * c + ch];
          int tx = 0, ty = 0, k = 0;
          if (layout == kLayoutActivation || layout == kLayoutFourPixel) {
            tx = ActivationColumn(layout, x, ch / 4, w, blocks);
            ty = ni * h + y;
            k = ch % 4;
          } else {
            // Weight: ni output channel, (y, x) tap, ch input channel.
            tx = layout == kLayoutConvWeight ? x * c + ch : ch * w + x;
            ty = ni / 4 * h + y;
            k = ni % 4;
          }
          texels[(static_cast<size_t>(ty) * e.width + tx) * 4 + k] = opencl::FloatToHalf(v);
        }
      }
    }
  }
  return texels;
}

void UnpackLayout0(const uint16_t* texels, int n, int h, int w, int c, float* nhwc) {
  const int blocks = Blocks(c);
  const size_t width = static_cast<size_t>(blocks) * w;
  for (int ni = 0; ni < n; ++ni) {
    for (int y = 0; y < h; ++y) {
      const size_t row = static_cast<size_t>(ni) * h + y;
      for (int x = 0; x < w; ++x) {
        for (int ch = 0; ch < c; ++ch) {
          const size_t t = (row * width + static_cast<size_t>(x) * blocks + ch / 4) * 4 + ch % 4;
          nhwc[(row * w + x) * c + ch] = opencl::HalfToFloat(texels[t]);
        }
      }
    }
  }
}

std::vector<uint16_t> PackBiasHalves(const float* bias, int channels) {
  std::vector<uint16_t> halves(static_cast<size_t>(Blocks(std::max(channels, 0))) * 4, 0);
  for (int i = 0; i < channels && bias != nullptr; ++i) halves[i] = opencl::FloatToHalf(bias[i]);
  return halves;
}

}  // namespace cl
}  // namespace engine
