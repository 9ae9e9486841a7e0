// The layer kernels other than convolutions, driven one by one on the
// device against plain references (tolerance stated in
// cl_kernel_harness.h): pooling, elementwise, batch normalisation,
// concatenation, split, shuffles, slice, softmax, resize and byte
// normalisation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/engine/cl_kernel_harness.h"

namespace {

using kerneltest::Activate;
using kerneltest::DeviceMem;
using kerneltest::Groups;
using kerneltest::Launch;
using kerneltest::Matches;
using kerneltest::Nhwc;
using kerneltest::Rng;
using kerneltest::Window;

opencl::clEngine* Engine() {
  opencl::clEngine* e = testutil::EngineWithProgram();
  EXPECT_NE(e, nullptr) << "the engine program must build on this machine's device";
  return e;
}

std::string Shape(const Nhwc& t) {
  return std::to_string(t.w) + "x" + std::to_string(t.h) + "x" + std::to_string(t.c);
}

// ---- pooling ---------------------------------------------------------------

Nhwc RefPool(const Nhwc& in, const Window& g, bool average) {
  Nhwc out(1, g.OutH(in.h), g.OutW(in.w), in.c);
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x)
      for (int c = 0; c < in.c; ++c) {
        double sum = 0, mag = 0, best = -std::numeric_limits<double>::infinity();
        int taps = 0;
        for (int i = 0; i < g.kh; ++i)
          for (int j = 0; j < g.kw; ++j) {
            const int iy = y * g.sh + i - g.pad_t, ix = x * g.sw + j - g.pad_l;
            if (iy < 0 || iy >= in.h || ix < 0 || ix >= in.w) continue;
            const double v = in.At(iy, ix, c);
            sum += v;
            mag += std::fabs(v);
            best = std::max(best, v);
            ++taps;
          }
        const size_t k = out.Index(0, y, x, c);
        // A window wholly in the padding gives 0.
        out.v[k] = static_cast<float>(average ? sum / std::max(taps, 1) : (taps > 0 ? best : 0.0));
        out.mag[k] = average ? mag / std::max(taps, 1) : 0.0;
      }
  return out;
}

TEST(ClLayerKernels, PoolingMatchesReference) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(61);
  struct Row { int c, w, h; Window g; bool to_buffer; };
  const Row rows[] = {
      {4, 10, 6, {2, 2, 0, 0, 0, 0, 2, 2, 1, 1}, false},
      {8, 17, 5, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, false},
      {12, 3, 7, {3, 2, 2, 0, 0, 1, 1, 2, 1, 1}, true},   // asymmetric, window past the edge
      {32, 64, 2, {5, 1, 2, 2, 0, 0, 3, 1, 1, 1}, false},
      {5, 1, 4, {1, 3, 0, 0, 1, 1, 1, 1, 1, 1}, false},
      {4, 3, 3, {2, 2, 3, 0, 0, 0, 1, 1, 1, 1}, false},  // first windows wholly in the padding
  };
  for (const Row& r : rows) {
    const Nhwc in = rng.Tensor(1, r.h, r.w, r.c, -3.f, 3.f);
    for (bool average : {true, false}) {
      const Nhwc ref = RefPool(in, r.g, average);
      const std::string name = std::string(average ? "pooling_avg" : "pooling_max") + (r.to_buffer ? "_buf_out" : "");
      SCOPED_TRACE(name + " " + Shape(in));
      DeviceMem dev(engine);
      auto input = dev.Image(0, in);
      auto out = r.to_buffer ? dev.OutputBuffer(1, ref.h, ref.w, ref.c) : dev.OutputImage(1, ref.h, ref.w, ref.c);
      ASSERT_TRUE(Launch(engine, name).Mem(*input).Mem(*out)
                      .Short(r.c).Short(ref.w).Short(r.w).Short(r.h).Short(r.g.kw).Short(r.g.kh)
                      .Short(r.g.pad_l).Short(r.g.pad_t).Short(r.g.sw).Short(r.g.sh)
                      .Run(Groups(r.c), static_cast<size_t>(ref.w), static_cast<size_t>(ref.h), !r.to_buffer));
      const Nhwc got = r.to_buffer ? dev.ReadBuffer(*out, 1, ref.h, ref.w, ref.c) : dev.ReadImage(*out, 1, ref.h, ref.w, ref.c);
      EXPECT_TRUE(Matches(got, ref));
    }
  }
}

TEST(ClLayerKernels, GlobalAverageSumsSixteenBlocks) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(67);
  struct Row { int c, w, h; };
  for (const Row& r : {Row{4, 8, 4}, Row{12, 16, 12}, Row{64, 4, 4}, Row{6, 12, 8}}) {
    SCOPED_TRACE("c " + std::to_string(r.c) + " " + std::to_string(r.w) + "x" + std::to_string(r.h));
    const Nhwc in = rng.Tensor(1, r.h, r.w, r.c, -3.f, 3.f);
    const Nhwc ref = RefPool(in, Window{r.w, r.h, 0, 0, 0, 0, 1, 1, 1, 1}, true);
    DeviceMem dev(engine);
    auto input = dev.Image(0, in);
    auto out = dev.OutputImage(1, 1, 1, r.c);
    ASSERT_TRUE(Launch(engine, "global_pooling_avg").Mem(*input).Mem(*out).Short(r.c).Short(r.w).Short(r.h)
                    .Local(1, 4, 4).Run(Groups(r.c), 4, 4));
    EXPECT_TRUE(Matches(dev.ReadImage(*out, 1, 1, 1, r.c), ref));
  }
}

// ---- elementwise -----------------------------------------------------------

TEST(ClLayerKernels, BinaryOpBroadcastsEachInputToTheOutput) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(71);
  struct Row { int c, w, h; int c1, w1, h1; int op, act; };
  const Row rows[] = {
      {8, 10, 3, 8, 10, 3, 0, 0},   // equal shapes
      {17, 3, 4, 17, 1, 1, 1, 1},   // one pixel over all pixels
      {5, 17, 2, 1, 17, 2, 2, 5},   // one channel over all channels
      {12, 64, 2, 12, 64, 1, 2, 1}, // one row over all rows
      {3, 1, 5, 1, 1, 1, 0, 5},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE("c " + std::to_string(r.c) + " in1 " + std::to_string(r.w1) + "x" + std::to_string(r.h1) + "x" +
                 std::to_string(r.c1) + " op " + std::to_string(r.op));
    const Nhwc a = rng.Tensor(1, r.h, r.w, r.c, -3.f, 3.f);
    const Nhwc b = rng.Tensor(1, r.h1, r.w1, r.c1, -3.f, 3.f);
    Nhwc ref(1, r.h, r.w, r.c);
    for (int y = 0; y < r.h; ++y)
      for (int x = 0; x < r.w; ++x)
        for (int c = 0; c < r.c; ++c) {
          const double va = a.At(y, x, c);
          const double vb = b.At(std::min(y, r.h1 - 1), std::min(x, r.w1 - 1), r.c1 == 1 ? 0 : c);
          const double v = r.op == 0 ? va + vb : (r.op == 1 ? va - vb : va * vb);
          ref.v[ref.Index(0, y, x, c)] = static_cast<float>(Activate(v, r.act));
          ref.mag[ref.Index(0, y, x, c)] = r.op == 2 ? std::fabs(v) : std::fabs(va) + std::fabs(vb);
        }
    DeviceMem dev(engine);
    auto i0 = dev.Image(0, a);
    auto i1 = dev.Image(0, b);
    auto out = dev.OutputImage(1, r.h, r.w, r.c);
    ASSERT_TRUE(Launch(engine, "binary_op").Mem(*i0).Mem(*i1).Mem(*out)
                    .Short(r.c).Short(r.w).Short(r.h).Short(r.c).Short(r.w).Short(r.h)
                    .Short(r.c1).Short(r.w1).Short(r.h1).Short(r.op).Short(r.act)
                    .Run(Groups(r.c), static_cast<size_t>(r.w), static_cast<size_t>(r.h), true));
    EXPECT_TRUE(Matches(dev.ReadImage(*out, 1, r.h, r.w, r.c), ref));
  }
}

TEST(ClLayerKernels, BatchnormScalesAndShiftsEachChannel) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(73);
  struct Row { int c, w, h, act; };
  for (const Row& r : {Row{3, 10, 3, 0}, Row{8, 17, 2, 1}, Row{17, 3, 4, 5}}) {
    SCOPED_TRACE("c " + std::to_string(r.c) + " act " + std::to_string(r.act));
    const Nhwc in = rng.Tensor(1, r.h, r.w, r.c, -3.f, 3.f);
    const Nhwc factor = rng.Tensor(1, 1, 1, r.c, -2.f, 2.f);
    const Nhwc offset = rng.Tensor(1, 1, 1, r.c, -1.f, 1.f);
    Nhwc ref(1, r.h, r.w, r.c);
    for (size_t k = 0; k < ref.v.size(); ++k) {
      const int c = static_cast<int>(k % r.c);
      const double t = static_cast<double>(in.v[k]) * factor.v[c];
      ref.v[k] = static_cast<float>(Activate(t + offset.v[c], r.act));
      ref.mag[k] = std::fabs(t) + std::fabs(offset.v[c]);
    }
    DeviceMem dev(engine);
    auto input = dev.Image(0, in);
    auto off = dev.Image(0, offset);
    auto fac = dev.Image(0, factor);
    auto out = dev.OutputImage(1, r.h, r.w, r.c);
    ASSERT_TRUE(Launch(engine, "batchnorm").Mem(*input).Mem(*out).Mem(*off).Mem(*fac)
                    .Short(r.c).Short(r.w).Short(r.h).Short(r.act)
                    .Run(Groups(r.c), static_cast<size_t>(r.w), static_cast<size_t>(r.h), true));
    EXPECT_TRUE(Matches(dev.ReadImage(*out, 1, r.h, r.w, r.c), ref));
  }
}

// ---- channel moves ----------------------------------------------------------

// out channel k of pixel (y, x) = in channel source(k).
template <class F>
Nhwc Gather(const Nhwc& in, int out_c, F source) {
  Nhwc out(1, in.h, in.w, out_c);
  for (int y = 0; y < in.h; ++y)
    for (int x = 0; x < in.w; ++x)
      for (int k = 0; k < out_c; ++k) out.v[out.Index(0, y, x, k)] = in.At(y, x, source(k));
  return out;
}

Nhwc Join(const std::vector<Nhwc>& parts) {
  int c = 0;
  for (const Nhwc& p : parts) c += p.c;
  Nhwc out(1, parts[0].h, parts[0].w, c);
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x) {
      int k = 0;
      for (const Nhwc& p : parts)
        for (int ch = 0; ch < p.c; ++ch) out.v[out.Index(0, y, x, k++)] = p.At(y, x, ch);
    }
  return out;
}

TEST(ClLayerKernels, ConcatJoinsChannelsOfImagesAndBuffers) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(79);
  struct Row { std::vector<int> cs; const char* suffix; int w, h; };
  const Row images[] = {
      {{4, 8}, "", 10, 3}, {{4, 4, 12}, "", 3, 2}, {{8, 4, 4, 4}, "", 17, 2},
      {{8, 2, 2}, "_X4_2_2", 10, 3}, {{2, 3, 3}, "_X2_3_3", 17, 2}, {{6, 3, 3}, "_X2_3_3", 1, 4},
  };
  for (const Row& r : images) {
    std::vector<Nhwc> parts;
    for (int c : r.cs) parts.push_back(rng.Tensor(1, r.h, r.w, c, -3.f, 3.f));
    const Nhwc ref = Join(parts);
    const std::string name = "concat" + std::to_string(r.cs.size()) + r.suffix;
    SCOPED_TRACE(name + " out " + Shape(ref));
    DeviceMem dev(engine);
    std::vector<std::unique_ptr<opencl::ClMemory>> inputs;
    Launch launch(engine, name);
    for (const Nhwc& p : parts) {
      inputs.push_back(dev.Image(0, p));
      launch.Mem(*inputs.back());
    }
    auto out = dev.OutputImage(1, r.h, r.w, ref.c);
    launch.Mem(*out).Short(static_cast<int>(Groups(ref.c))).Short(r.w).Short(r.h);
    for (int c : r.cs) launch.Short(c);
    ASSERT_TRUE(launch.Run(Groups(ref.c), static_cast<size_t>(r.w), static_cast<size_t>(r.h), true));
    EXPECT_TRUE(Matches(dev.ReadImage(*out, 1, r.h, r.w, ref.c), ref));
  }
  const Row buffers[] = {{{3, 5}, "", 10, 3}, {{1, 2, 6}, "", 3, 2}, {{4, 4, 3, 2}, "", 17, 1}};
  for (const Row& r : buffers) {
    std::vector<Nhwc> parts;
    for (int c : r.cs) parts.push_back(rng.Tensor(1, r.h, r.w, c, -3.f, 3.f));
    const Nhwc ref = Join(parts);
    const std::string name = "concat" + std::to_string(r.cs.size()) + "_buf";
    SCOPED_TRACE(name + " out " + Shape(ref));
    DeviceMem dev(engine);
    std::vector<std::unique_ptr<opencl::ClMemory>> inputs;
    Launch launch(engine, name);
    for (const Nhwc& p : parts) {
      inputs.push_back(dev.Floats(p.v));
      launch.Mem(*inputs.back());
    }
    auto out = dev.OutputBuffer(1, r.h, r.w, ref.c);
    launch.Mem(*out).Short(ref.c).Short(r.w).Short(r.h);
    for (int c : r.cs) launch.Short(c);
    ASSERT_TRUE(launch.Run(static_cast<size_t>(ref.c), static_cast<size_t>(r.w), static_cast<size_t>(r.h), true));
    EXPECT_TRUE(Matches(dev.ReadBuffer(*out, 1, r.h, r.w, ref.c), ref));
  }
}

TEST(ClLayerKernels, SplitSliceAndShufflesMoveChannels) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(83);
  for (int half : {4, 8}) {
    SCOPED_TRACE("split_2 of " + std::to_string(2 * half));
    const Nhwc in = rng.Tensor(1, 3, 10, 2 * half, -3.f, 3.f);
    DeviceMem dev(engine);
    auto input = dev.Image(0, in);
    auto o0 = dev.OutputImage(1, 3, 10, half);
    auto o1 = dev.OutputImage(1, 3, 10, half);
    ASSERT_TRUE(Launch(engine, "split_2").Mem(*input).Mem(*o0).Mem(*o1).Short(half).Short(10)
                    .Run(Groups(half), 10, 3, true));
    EXPECT_TRUE(Matches(dev.ReadImage(*o0, 1, 3, 10, half), Gather(in, half, [](int k) { return k; })));
    EXPECT_TRUE(Matches(dev.ReadImage(*o1, 1, 3, 10, half), Gather(in, half, [half](int k) { return half + k; })));
  }
  struct SliceRow { int in_c, start, out_c; };
  for (const SliceRow& r : {SliceRow{12, 4, 8}, SliceRow{12, 4, 5}, SliceRow{17, 16, 1}, SliceRow{8, 0, 3}}) {
    SCOPED_TRACE("slice " + std::to_string(r.in_c) + " from " + std::to_string(r.start) + " take " + std::to_string(r.out_c));
    const Nhwc in = rng.Tensor(1, 2, 17, r.in_c, -3.f, 3.f);
    DeviceMem dev(engine);
    auto input = dev.Image(0, in);
    auto out = dev.OutputImage(1, 2, 17, r.out_c);
    ASSERT_TRUE(Launch(engine, "slice").Mem(*input).Mem(*out).Short(r.in_c).Short(r.start).Short(r.out_c)
                    .Short(17).Short(2).Run(Groups(r.out_c), 17, 2, true));
    const int start = r.start;
    EXPECT_TRUE(Matches(dev.ReadImage(*out, 1, 2, 17, r.out_c), Gather(in, r.out_c, [start](int k) { return start + k; })));
  }
  for (int c : {8, 16, 24}) {
    const Nhwc in = rng.Tensor(1, 2, 10, c, -3.f, 3.f);
    // Groups g: output channel j * g + i is input channel i * (c / g) + j.
    for (int g : {c / 2, 2}) {
      const std::string name = g == 2 ? "shuffle_2" : "shuffle_half";
      SCOPED_TRACE(name + " c " + std::to_string(c));
      const int per = c / g;
      DeviceMem dev(engine);
      auto input = dev.Image(0, in);
      auto out = dev.OutputImage(1, 2, 10, c);
      ASSERT_TRUE(Launch(engine, name).Mem(*input).Mem(*out).Short(c).Short(10).Run(Groups(c), 10, 2, true));
      EXPECT_TRUE(Matches(dev.ReadImage(*out, 1, 2, 10, c),
                          Gather(in, c, [g, per](int k) { return (k % g) * per + k / g; })));
    }
  }
}

TEST(ClLayerKernels, ShuffleSplitWritesBothHalves) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(89);
  for (int e : {4, 8}) {
    for (int inputs : {1, 2}) {
      for (int outputs : {1, 2}) {
        for (int g : {e, 2}) {
          const std::string name = g == 2 ? "shuffle_split2_2" : "shuffle_split2_half";
          SCOPED_TRACE(name + " e " + std::to_string(e) + " inputs " + std::to_string(inputs) + " outputs " +
                       std::to_string(outputs));
          const int w = 17, h = 2, c = 2 * e;
          std::vector<Nhwc> parts;
          if (inputs == 2) {
            parts = {rng.Tensor(1, h, w, e, -3.f, 3.f), rng.Tensor(1, h, w, e, -3.f, 3.f)};
          } else {
            parts = {rng.Tensor(1, h, w, c, -3.f, 3.f)};
          }
          const Nhwc joined = Join(parts);
          const int per = c / g;
          const Nhwc shuffled = Gather(joined, c, [g, per](int k) { return (k % g) * per + k / g; });
          DeviceMem dev(engine);
          auto i0 = dev.Image(0, parts[0]);
          auto i1 = dev.Image(0, parts.back());
          auto o0 = dev.OutputImage(1, h, w, outputs == 2 ? e : c);
          auto o1 = dev.OutputImage(1, h, w, e);
          ASSERT_TRUE(Launch(engine, name).Mem(*i0).Mem(*i1).Mem(*o0).Mem(*o1).Short(e).Short(w).Short(outputs)
                          .Run(Groups(e), w, h, true));
          if (outputs == 2) {
            EXPECT_TRUE(Matches(dev.ReadImage(*o0, 1, h, w, e), Gather(shuffled, e, [](int k) { return k; })));
            EXPECT_TRUE(Matches(dev.ReadImage(*o1, 1, h, w, e), Gather(shuffled, e, [e](int k) { return e + k; })));
          } else {
            EXPECT_TRUE(Matches(dev.ReadImage(*o0, 1, h, w, c), shuffled));
          }
        }
      }
    }
  }
}

// ---- softmax, resize, byte normalisation -----------------------------------

TEST(ClLayerKernels, SoftmaxNormalisesEachPixel) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(97);
  for (int c : {1, 3, 5, 17}) {
    SCOPED_TRACE("c " + std::to_string(c));
    Nhwc in = rng.Tensor(1, 3, 10, c, -6.f, 6.f);
    if (c == 3) std::fill(in.v.begin(), in.v.begin() + 3, 1.5f);  // equal values: a third each
    Nhwc ref(1, 3, 10, c);
    for (int p = 0; p < 30; ++p) {
      double m = -1e30, sum = 0;
      for (int k = 0; k < c; ++k) m = std::max(m, static_cast<double>(in.v[p * c + k]));
      for (int k = 0; k < c; ++k) sum += std::exp(in.v[p * c + k] - m);
      for (int k = 0; k < c; ++k) ref.v[p * c + k] = static_cast<float>(std::exp(in.v[p * c + k] - m) / sum);
    }
    DeviceMem dev(engine);
    auto input = dev.Floats(in.v);
    auto out = dev.OutputBuffer(1, 3, 10, c);
    ASSERT_TRUE(Launch(engine, "softmax").Mem(*input).Mem(*out).Short(c).Short(10).Short(3).Run(10, 3, 1));
    const Nhwc got = dev.ReadBuffer(*out, 1, 3, 10, c);
    EXPECT_TRUE(Matches(got, ref));
    if (c == 3) {
      EXPECT_NEAR(got.v[0], 1.0 / 3.0, 1.0 / 3.0 / 1024);
    }
  }
}

TEST(ClLayerKernels, ResizeNearestAndBilinear) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(101);
  struct Row { int c, in_w, in_h, out_w, out_h; };
  for (const Row& r : {Row{4, 5, 3, 10, 6}, Row{8, 17, 4, 3, 9}, Row{12, 3, 2, 1, 1}, Row{5, 10, 10, 17, 5}}) {
    const Nhwc in = rng.Tensor(1, r.in_h, r.in_w, r.c, -3.f, 3.f);
    for (int align : {0, 1}) {
      const int aw = align && r.out_w > 1 ? 1 : 0, ah = align && r.out_h > 1 ? 1 : 0;
      const float sw = static_cast<float>(r.in_w - aw) / static_cast<float>(r.out_w - aw);
      const float sh = static_cast<float>(r.in_h - ah) / static_cast<float>(r.out_h - ah);
      for (bool bilinear : {false, true}) {
        const std::string name = bilinear ? "resize_bilinear" : "resize_nearest";
        SCOPED_TRACE(name + " " + Shape(in) + " to " + std::to_string(r.out_w) + "x" + std::to_string(r.out_h) +
                     " align " + std::to_string(align));
        Nhwc ref(1, r.out_h, r.out_w, r.c);
        for (int y = 0; y < r.out_h; ++y)
          for (int x = 0; x < r.out_w; ++x) {
            const double fx = static_cast<double>(x * sw), fy = static_cast<double>(y * sh);
            for (int c = 0; c < r.c; ++c) {
              const size_t k = ref.Index(0, y, x, c);
              if (!bilinear) {
                const int ix = std::min(static_cast<int>(align ? std::round(fx) : std::floor(fx)), r.in_w - 1);
                const int iy = std::min(static_cast<int>(align ? std::round(fy) : std::floor(fy)), r.in_h - 1);
                ref.v[k] = in.At(iy, ix, c);
                continue;
              }
              const int x0 = std::min(static_cast<int>(std::floor(fx)), r.in_w - 1);
              const int y0 = std::min(static_cast<int>(std::floor(fy)), r.in_h - 1);
              const int x1 = std::min(x0 + 1, r.in_w - 1), y1 = std::min(y0 + 1, r.in_h - 1);
              const double ax = fx - std::floor(fx), ay = fy - std::floor(fy);
              const double top = in.At(y0, x0, c) * (1 - ax) + in.At(y0, x1, c) * ax;
              const double bottom = in.At(y1, x0, c) * (1 - ax) + in.At(y1, x1, c) * ax;
              ref.v[k] = static_cast<float>(top * (1 - ay) + bottom * ay);
              ref.mag[k] = 4 * 3.0;
            }
          }
        DeviceMem dev(engine);
        auto input = dev.Image(0, in);
        auto out = dev.OutputImage(1, r.out_h, r.out_w, r.c);
        ASSERT_TRUE(Launch(engine, name).Mem(*input).Mem(*out).Short(r.c).Short(r.out_w).Short(r.out_h)
                        .Short(r.in_w).Short(r.in_h).Short(align).Float(sw).Float(sh)
                        .Run(Groups(r.c), r.out_w, r.out_h, true));
        EXPECT_TRUE(Matches(dev.ReadImage(*out, 1, r.out_h, r.out_w, r.c), ref));
      }
    }
  }
}

TEST(ClLayerKernels, NormaliseTurnsBytesIntoHalves) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(103);
  const float mean[3] = {127.5f, 100.f, 80.25f};
  const float scale[3] = {1.f / 127.5f, 0.02f, -0.0175f};
  const float fill = 0.75f;
  struct Row { int in_c, out_c, w, h; };
  for (const Row& r : {Row{3, 4, 10, 3}, Row{3, 3, 17, 2}, Row{1, 1, 3, 4}, Row{1, 4, 64, 1}}) {
    SCOPED_TRACE(std::to_string(r.in_c) + " to " + std::to_string(r.out_c));
    std::vector<uint8_t> bytes(static_cast<size_t>(r.w) * r.h * r.in_c);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng.Int(0, 255));
    Nhwc ref(1, r.h, r.w, r.out_c);
    for (int p = 0; p < r.w * r.h; ++p)
      for (int k = 0; k < r.out_c; ++k) {
        const double v = k < r.in_c ? (bytes[p * r.in_c + k] - static_cast<double>(mean[k])) * scale[k] : fill;
        ref.v[p * r.out_c + k] = static_cast<float>(v);
      }
    DeviceMem dev(engine);
    auto input = dev.Bytes(bytes);
    auto out = dev.OutputImage(1, r.h, r.w, r.out_c);
    Launch launch(engine, "normalize_kernel");
    launch.Mem(*input).Mem(*out).Short(r.in_c).Short(r.out_c).Short(r.w).Short(r.h);
    for (float m : mean) launch.Float(m);
    for (float s : scale) launch.Float(s);
    ASSERT_TRUE(launch.Float(fill).Run(Groups(r.out_c), r.w, r.h, true));
    EXPECT_TRUE(Matches(dev.ReadImage(*out, 1, r.h, r.w, r.out_c), ref));
  }
}

}  // namespace
