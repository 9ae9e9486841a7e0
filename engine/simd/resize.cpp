#include "engine/simd/resize.h"

#include <algorithm>
#include <cmath>

#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

float ResizeScale(int in, int out, bool align_corners) {
  const int a = align_corners && out > 1 ? 1 : 0;
  return static_cast<float>(in - a) / static_cast<float>(out - a);
}

namespace {

int Clamp(int v, int hi) { return std::min(std::max(v, 0), hi); }

// Source index of each output position for nearest sampling.
void NearestTable(int in, int out, bool align_corners, std::vector<int>* index) {
  const float s = ResizeScale(in, out, align_corners);
  index->resize(out);
  for (int o = 0; o < out; ++o) {
    const float f = static_cast<float>(o) * s;
    (*index)[o] = Clamp(static_cast<int>(align_corners ? std::round(f) : std::floor(f)), in - 1);
  }
}

// The two neighbours around out * scale and the weight of the second.
void LinearTable(int in, int out, bool align_corners, std::vector<int>* lo, std::vector<int>* hi,
                 std::vector<float>* t) {
  const float s = ResizeScale(in, out, align_corners);
  lo->resize(out);
  hi->resize(out);
  t->resize(out);
  for (int o = 0; o < out; ++o) {
    const float f = static_cast<float>(o) * s;
    const int i0 = Clamp(static_cast<int>(std::floor(f)), in - 1);
    (*lo)[o] = i0;
    (*hi)[o] = std::min(i0 + 1, in - 1);
    (*t)[o] = std::min(std::max(f - static_cast<float>(i0), 0.f), 1.f);
  }
}

}  // namespace

bool Resize::run(core::RunEnv& env) {
  if (!core::Resize::reshape(env)) return false;
  const Tensor* in_t = inputs[0];
  const float* in = InputValues(inputs[0], &input_, &last_error);
  if (in == nullptr) return false;
  Tensor* out = outputs[0];
  float* dst = out->ensure_host();
  if (dst == nullptr) return fail(kErrNoOutputMemory);
  const int c = out->c, ih = in_t->h, iw = in_t->w;
  const size_t in_plane = static_cast<size_t>(ih) * iw * c;
  const size_t out_plane = static_cast<size_t>(out->h) * out->w * c;
  if (mode == core::kResizeNearest) {
    NearestTable(ih, out->h, align_corners, &y0_);
    NearestTable(iw, out->w, align_corners, &x0_);
    for (int n = 0; n < out->n; ++n)
      for (int y = 0; y < out->h; ++y)
        for (int x = 0; x < out->w; ++x) {
          const float* s = in + n * in_plane + (static_cast<size_t>(y0_[y]) * iw + x0_[x]) * c;
          std::copy(s, s + c, dst + n * out_plane + (static_cast<size_t>(y) * out->w + x) * c);
        }
    placement = "cpu:resize_nearest";
    return true;
  }
  LinearTable(ih, out->h, align_corners, &y0_, &y1_, &ty_);
  LinearTable(iw, out->w, align_corners, &x0_, &x1_, &tx_);
  for (int n = 0; n < out->n; ++n)
    for (int y = 0; y < out->h; ++y) {
      const float* r0 = in + n * in_plane + static_cast<size_t>(y0_[y]) * iw * c;
      const float* r1 = in + n * in_plane + static_cast<size_t>(y1_[y]) * iw * c;
      const float ty = ty_[y];
      for (int x = 0; x < out->w; ++x) {
        const float tx = tx_[x];
        const float* a = r0 + static_cast<size_t>(x0_[x]) * c;
        const float* b = r0 + static_cast<size_t>(x1_[x]) * c;
        const float* p = r1 + static_cast<size_t>(x0_[x]) * c;
        const float* q = r1 + static_cast<size_t>(x1_[x]) * c;
        float* d = dst + n * out_plane + (static_cast<size_t>(y) * out->w + x) * c;
        for (int k = 0; k < c; ++k) {
          const float top = a[k] + (b[k] - a[k]) * tx;
          const float bottom = p[k] + (q[k] - p[k]) * tx;
          d[k] = top + (bottom - top) * ty;
        }
      }
    }
  placement = "cpu:resize_bilinear";
  return true;
}

}  // namespace simd
}  // namespace engine
