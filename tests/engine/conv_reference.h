// Plain double-precision convolutions written from the definition, for
// the CPU and device tests of the convolution family, and the comparison
// of a layer's output with them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine/tensor.h"

namespace convref {

// Float accumulation against double: allowed error per output value is
// kRelTol times the sum of the absolute products, plus kAbsTol.
constexpr double kRelTol = 1e-5;
constexpr double kAbsTol = 1e-6;

struct Geometry {
  int kw, kh, pw0, pw1, ph0, ph1, sw, sh, dw, dh;
};

struct Plane {
  int h, w, c;
  std::vector<double> v;
  double& at(int y, int x, int k) { return v[(static_cast<size_t>(y) * w + x) * c + k]; }
};

// Reference values and, per value, the sum of the absolute products.
struct Expected {
  Plane value, magnitude;
};

// out[y][x][oc] = bias[oc] + sum w[oc][i][j][ic] * in[y*sh + i*dh - ph0]
// [x*sw + j*dw - pw0][ic]; depthwise: ic = oc only, w[oc][i][j][0].
inline Expected RefForward(const std::vector<float>& in, int ih, int iw, int ic,
                    const std::vector<float>& w, const std::vector<float>& bias, int oc,
                    const Geometry& g, bool depthwise) {
  const int oh = (ih + g.ph0 + g.ph1 - (g.kh - 1) * g.dh - 1) / g.sh + 1;
  const int ow = (iw + g.pw0 + g.pw1 - (g.kw - 1) * g.dw - 1) / g.sw + 1;
  Expected e{{oh, ow, oc, std::vector<double>(static_cast<size_t>(oh) * ow * oc)},
             {oh, ow, oc, std::vector<double>(static_cast<size_t>(oh) * ow * oc)}};
  const int wc = depthwise ? 1 : ic;
  for (int y = 0; y < oh; ++y)
    for (int x = 0; x < ow; ++x)
      for (int o = 0; o < oc; ++o) {
        double sum = bias[o], mag = std::fabs(bias[o]);
        for (int i = 0; i < g.kh; ++i)
          for (int j = 0; j < g.kw; ++j) {
            const int yy = y * g.sh + i * g.dh - g.ph0, xx = x * g.sw + j * g.dw - g.pw0;
            if (yy < 0 || yy >= ih || xx < 0 || xx >= iw) continue;
            for (int k = 0; k < wc; ++k) {
              const int src_c = depthwise ? o : k;
              const double p = static_cast<double>(w[((static_cast<size_t>(o) * g.kh + i) * g.kw + j) * wc + k]) *
                               in[(static_cast<size_t>(yy) * iw + xx) * ic + src_c];
              sum += p;
              mag += std::fabs(p);
            }
          }
        e.value.at(y, x, o) = sum;
        e.magnitude.at(y, x, o) = mag;
      }
  return e;
}

// Each input pixel scattered over a kernel window at stride spacing:
// out[iy*sh + i*dh - ph0][ix*sw + j*dw - pw0][oc] += w[ic][i][j][oc] * in.
inline Expected RefTransposed(const std::vector<float>& in, int ih, int iw, int ic,
                       const std::vector<float>& w, const std::vector<float>& bias, int oc,
                       const Geometry& g) {
  const int oh = (ih - 1) * g.sh + (g.kh - 1) * g.dh + 1 - g.ph0 - g.ph1;
  const int ow = (iw - 1) * g.sw + (g.kw - 1) * g.dw + 1 - g.pw0 - g.pw1;
  Expected e{{oh, ow, oc, std::vector<double>(static_cast<size_t>(oh) * ow * oc)},
             {oh, ow, oc, std::vector<double>(static_cast<size_t>(oh) * ow * oc)}};
  for (int y = 0; y < oh; ++y)
    for (int x = 0; x < ow; ++x)
      for (int o = 0; o < oc; ++o) {
        e.value.at(y, x, o) = bias[o];
        e.magnitude.at(y, x, o) = std::fabs(bias[o]);
      }
  for (int iy = 0; iy < ih; ++iy)
    for (int ix = 0; ix < iw; ++ix)
      for (int i = 0; i < g.kh; ++i)
        for (int j = 0; j < g.kw; ++j) {
          const int y = iy * g.sh + i * g.dh - g.ph0, x = ix * g.sw + j * g.dw - g.pw0;
          if (y < 0 || y >= oh || x < 0 || x >= ow) continue;
          for (int k = 0; k < ic; ++k)
            for (int o = 0; o < oc; ++o) {
              const double p = static_cast<double>(w[((static_cast<size_t>(k) * g.kh + i) * g.kw + j) * oc + o]) *
                               in[(static_cast<size_t>(iy) * iw + ix) * ic + k];
              e.value.at(y, x, o) += p;
              e.magnitude.at(y, x, o) += std::fabs(p);
            }
        }
  return e;
}

inline double Activate(double x, int kind, double alpha) {
  switch (kind) {
    case 1: return x > 0 ? x : 0;
    case 2: return std::max(std::min(x, alpha), 0.0);
    case 5: return 1 / (1 + std::exp(-x));
    case 6: return x < 0 ? x * alpha : x;
    default: return x;
  }
}

inline std::vector<float> Random(std::mt19937* rng, size_t n, float lo, float hi) {
  std::uniform_real_distribution<float> d(lo, hi);
  std::vector<float> v(n);
  for (float& x : v) x = d(*rng);
  return v;
}

// Compares a layer's output tensor with the reference; returns the number
// of values out of tolerance (reporting the first few).
inline int Mismatches(const engine::Tensor& out, const Expected& e, int act, double alpha,
                      double rel_tol = kRelTol, double abs_tol = kAbsTol) {
  EXPECT_EQ(out.h, e.value.h);
  EXPECT_EQ(out.w, e.value.w);
  EXPECT_EQ(out.c, e.value.c);
  if (out.h != e.value.h || out.w != e.value.w || out.c != e.value.c || out.host_data == nullptr)
    return -1;
  int bad = 0;
  for (size_t i = 0; i < e.value.v.size(); ++i) {
    const double want = Activate(e.value.v[i], act, alpha);
    const double tol = rel_tol * e.magnitude.v[i] + abs_tol;
    if (std::fabs(out.host_data[i] - want) > tol && ++bad <= 3)
      ADD_FAILURE() << "value " << i << ": got " << out.host_data[i] << ", want " << want;
  }
  return bad;
}

}  // namespace convref
