// A plain evaluation of the JND network, written from its description and
// sharing nothing with the kernels: bytes / 255, 3x3 convolutions with
// clamp-to-edge reads, ReLU, 8-bit intermediates holding
// round(activation x 127.5), output round-half-even(v x 255) saturated.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "jnd/jnd_weights.h"

namespace testref {

// Stored weights [oc][ic][ky][kx] of any set, as plain arrays.
struct Net {
  float w1[36], b1[4], w2[144], b2[4], w3[36], b3;
};

inline Net FromSet(const jnd::JndWeightSetData& s) {
  Net n{};
  std::copy(s.conv1Weights, s.conv1Weights + 36, n.w1);
  std::copy(s.conv1Bias, s.conv1Bias + 4, n.b1);
  std::copy(s.conv2Weights, s.conv2Weights + 144, n.w2);
  std::copy(s.conv2Bias, s.conv2Bias + 4, n.b2);
  std::copy(s.conv3Weights, s.conv3Weights + 36, n.w3);
  n.b3 = s.conv3Bias[0];
  return n;
}

inline int RoundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }
inline uint8_t Saturate(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Filters a packed w x h plane (quantised intermediates when `quantised`,
// else full precision).
inline std::vector<uint8_t> Filter(const Net& n, const std::vector<uint8_t>& in, int w, int h,
                                   bool quantised = true) {
  auto at = [&](const std::vector<double>& plane, int channels, int c, int x, int y) {
    x = std::min(std::max(x, 0), w - 1);
    y = std::min(std::max(y, 0), h - 1);
    return plane[(static_cast<size_t>(y) * w + x) * channels + c];
  };
  const size_t pixels = static_cast<size_t>(w) * h;
  std::vector<double> x0(pixels);
  for (size_t i = 0; i < pixels; ++i) x0[i] = in[i] / 255.0;

  // One conv layer with ReLU and (optionally) 8-bit storage.
  auto layer = [&](const std::vector<double>& src, int in_ch, const float* wt, const float* b) {
    std::vector<double> out(pixels * 4);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int oc = 0; oc < 4; ++oc) {
          double z = b[oc];
          for (int ic = 0; ic < in_ch; ++ic)
            for (int ky = 0; ky < 3; ++ky)
              for (int kx = 0; kx < 3; ++kx)
                z += wt[((oc * in_ch + ic) * 3 + ky) * 3 + kx] * at(src, in_ch, ic, x + kx - 1, y + ky - 1);
          double a = std::max(z, 0.0);
          if (quantised) a = Saturate(RoundHalfEven(a * 127.5)) / 127.5;
          out[(static_cast<size_t>(y) * w + x) * 4 + oc] = a;
        }
    return out;
  };
  const std::vector<double> a1 = layer(x0, 1, n.w1, n.b1);
  const std::vector<double> a2 = layer(a1, 4, n.w2, n.b2);
  std::vector<uint8_t> out(pixels);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double v = n.b3;
      for (int ic = 0; ic < 4; ++ic)
        for (int ky = 0; ky < 3; ++ky)
          for (int kx = 0; kx < 3; ++kx)
            v += n.w3[(ic * 3 + ky) * 3 + kx] * at(a2, 4, ic, x + kx - 1, y + ky - 1);
      out[static_cast<size_t>(y) * w + x] = Saturate(RoundHalfEven(v * 255.0));
    }
  return out;
}

}  // namespace testref
