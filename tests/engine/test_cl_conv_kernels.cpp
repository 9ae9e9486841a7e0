// The convolution kernels of the engine program, driven one by one on the
// device against plain references (tolerance stated in
// cl_kernel_harness.h): the generic kernel, the 1x1 and 3x3 fast kernels in
// their pixel-block, single-pixel, four-pixel-input and single-channel
// forms, the byte-input, depthwise and transposed kernels, to images and to
// NHWC buffers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/engine/cl_kernel_harness.h"

namespace {

using kerneltest::DeviceMem;
using kerneltest::Groups;
using kerneltest::Launch;
using kerneltest::Matches;
using kerneltest::Nhwc;
using kerneltest::Quads;
using kerneltest::RefConv;
using kerneltest::Rng;
using kerneltest::Window;

opencl::clEngine* Engine() {
  opencl::clEngine* e = testutil::EngineWithProgram();
  EXPECT_NE(e, nullptr) << "the engine program must build on this machine's device";
  return e;
}

// A convolution problem with random contents.
struct ConvProblem {
  Nhwc input, weight;
  std::vector<float> bias;
  Window g;
  int act = 0;
  Nhwc Ref() const { return RefConv(input, weight, bias, g, act); }
};

ConvProblem MakeProblem(Rng& rng, int in_c, int out_c, int in_w, int in_h, const Window& g, int act) {
  ConvProblem p;
  p.g = g;
  p.act = act;
  p.input = rng.Tensor(1, in_h, in_w, in_c, -2.f, 2.f);
  p.weight = rng.Tensor(out_c, g.kh, g.kw, in_c, -1.f, 1.f);
  p.bias = rng.Values(out_c, -1.f, 1.f);
  return p;
}

std::string Describe(const ConvProblem& p, const std::string& kernel) {
  return kernel + " in " + std::to_string(p.input.w) + "x" + std::to_string(p.input.h) + "x" +
         std::to_string(p.input.c) + " out c " + std::to_string(p.weight.n) + " k " +
         std::to_string(p.g.kw) + "x" + std::to_string(p.g.kh) + " act " + std::to_string(p.act);
}

// Runs one of the generic kernels ("conv", "conv_c3", with their
// "_buf_out" forms) and compares with the reference.
void RunGeneric(opencl::clEngine* engine, const ConvProblem& p, const std::string& name) {
  SCOPED_TRACE(Describe(p, name));
  const bool to_buffer = name.find("_buf_out") != std::string::npos;
  const Nhwc ref = p.Ref();
  DeviceMem dev(engine);
  auto in = dev.Image(0, p.input);
  auto weight = dev.Image(6, p.weight);
  auto bias = dev.Halves(engine::cl::PackBiasHalves(p.bias.data(), p.weight.n));
  auto out = to_buffer ? dev.OutputBuffer(1, ref.h, ref.w, ref.c) : dev.OutputImage(1, ref.h, ref.w, ref.c);
  const Window& g = p.g;
  ASSERT_TRUE(Launch(engine, name)
                  .Mem(*in).Mem(*out).Mem(*weight).Mem(*bias)
                  .Short(p.input.c).Short(ref.c).Short(ref.w).Short(p.input.h)
                  .Short(g.kw).Short(g.kh).Short(g.pad_l).Short(g.pad_t)
                  .Short(g.sw).Short(g.sh).Short(g.dw).Short(g.dh).Short(p.act)
                  .Run(Groups(ref.c), Quads(ref.w), static_cast<size_t>(ref.h), !to_buffer));
  const Nhwc got = to_buffer ? dev.ReadBuffer(*out, 1, ref.h, ref.w, ref.c)
                             : dev.ReadImage(*out, 1, ref.h, ref.w, ref.c);
  EXPECT_TRUE(Matches(got, ref));
}

struct GenericRow {
  int in_c, out_c, in_w, in_h;
  Window g;
  int act;
  bool to_buffer;
};

TEST(ClConvKernels, GenericConvolutionMatchesReference) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  // Window: kw, kh, pad l r t b, stride w h, dilation w h.
  const GenericRow rows[] = {
      {2, 5, 10, 7, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, 0, false},
      {6, 8, 17, 5, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, 1, false},   // 3x3 on 6 channels
      {5, 12, 17, 9, {5, 3, 2, 0, 1, 2, 2, 1, 1, 1}, 5, false},  // asymmetric pads, stride 2
      {17, 3, 10, 6, {3, 3, 2, 2, 2, 2, 1, 1, 2, 2}, 1, false},  // dilation 2
      {8, 6, 64, 3, {1, 1, 0, 0, 0, 0, 2, 2, 1, 1}, 0, false},   // 1x1 stride 2
      {12, 17, 3, 4, {3, 2, 0, 1, 1, 0, 1, 2, 1, 1}, 5, false},
      {32, 32, 1, 5, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, 1, false},  // one pixel wide
      {2, 6, 17, 4, {3, 3, 0, 2, 2, 0, 2, 2, 1, 2}, 0, true},
      {5, 3, 10, 3, {2, 2, 1, 0, 0, 1, 1, 1, 1, 1}, 5, true},
      {12, 1, 3, 5, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, 1, true},
  };
  Rng rng(17);
  for (const GenericRow& r : rows) {
    const ConvProblem p = MakeProblem(rng, r.in_c, r.out_c, r.in_w, r.in_h, r.g, r.act);
    RunGeneric(engine, p, r.to_buffer ? "conv_buf_out" : "conv");
  }
}

TEST(ClConvKernels, ThreeChannelConvolutionMatchesReference) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  const GenericRow rows[] = {
      {3, 8, 17, 12, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, 1, false},
      {3, 5, 10, 5, {5, 5, 2, 2, 2, 2, 1, 1, 1, 1}, 5, false},
      {3, 6, 64, 3, {3, 3, 0, 1, 1, 1, 1, 1, 2, 2}, 0, true},
  };
  Rng rng(23);
  for (const GenericRow& r : rows) {
    const ConvProblem p = MakeProblem(rng, r.in_c, r.out_c, r.in_w, r.in_h, r.g, r.act);
    RunGeneric(engine, p, r.to_buffer ? "conv_c3_buf_out" : "conv_c3");
  }
}

// ---- 1x1 -------------------------------------------------------------------

struct FastRow {
  int in_c, out_c, w, h;
  int act;
};

// Runs a 1x1 kernel: base "conv1x1_s1x1", form "", "_w4" or "_x1".
void RunConv1x1(opencl::clEngine* engine, const ConvProblem& p, const std::string& form, bool to_buffer) {
  const std::string name = "conv1x1_s1x1" + form + (to_buffer ? "_buf_out" : "");
  SCOPED_TRACE(Describe(p, name));
  const Nhwc ref = p.Ref();
  DeviceMem dev(engine);
  auto in = dev.Image(form == "_w4" ? 18 : 0, p.input);
  auto weight = dev.Image(13, p.weight);
  auto bias = dev.Halves(engine::cl::PackBiasHalves(p.bias.data(), p.weight.n));
  auto out = to_buffer ? dev.OutputBuffer(1, ref.h, ref.w, ref.c) : dev.OutputImage(1, ref.h, ref.w, ref.c);
  const size_t gx = form == "_x1" ? static_cast<size_t>(ref.w) : Quads(ref.w);
  ASSERT_TRUE(Launch(engine, name)
                  .Mem(*in).Mem(*out).Mem(*weight).Mem(*bias)
                  .Short(p.input.c).Short(ref.c).Short(ref.w).Short(p.act)
                  .Run(Groups(ref.c), gx, static_cast<size_t>(ref.h), !to_buffer));
  const Nhwc got = to_buffer ? dev.ReadBuffer(*out, 1, ref.h, ref.w, ref.c)
                             : dev.ReadImage(*out, 1, ref.h, ref.w, ref.c);
  EXPECT_TRUE(Matches(got, ref));
}

TEST(ClConvKernels, PointwiseKernelsMatchReference) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  const FastRow rows[] = {
      {4, 8, 10, 3, 0}, {8, 5, 17, 4, 1}, {32, 12, 3, 2, 5}, {12, 17, 64, 2, 1}, {4, 3, 1, 5, 5},
  };
  Rng rng(31);
  for (const FastRow& r : rows) {
    const ConvProblem p = MakeProblem(rng, r.in_c, r.out_c, r.w, r.h, Window{}, r.act);
    for (const char* form : {"", "_w4", "_x1"}) RunConv1x1(engine, p, form, false);
    RunConv1x1(engine, p, "", true);
    RunConv1x1(engine, p, "_x1", true);
  }
}

// ---- 3x3 -------------------------------------------------------------------

// Runs a 3x3 stride-1 kernel: form "", "_x1" (weights in layout 13) or
// "_n1_x1" (buffer output, weights in layout 0, one channel per item).
void RunConv3x3(opencl::clEngine* engine, const ConvProblem& p, const std::string& form, bool to_buffer) {
  const std::string name = "conv3x3_s1x1" + form + (to_buffer ? "_buf_out" : "");
  SCOPED_TRACE(Describe(p, name) + " pad " + std::to_string(p.g.pad_l));
  const Nhwc ref = p.Ref();
  DeviceMem dev(engine);
  const bool single = form == "_n1_x1";
  auto in = dev.Image(0, p.input);
  auto weight = dev.Image(single ? 0 : 13, p.weight);
  auto bias = dev.Halves(engine::cl::PackBiasHalves(p.bias.data(), p.weight.n));
  auto out = to_buffer ? dev.OutputBuffer(1, ref.h, ref.w, ref.c) : dev.OutputImage(1, ref.h, ref.w, ref.c);
  const size_t gx = single ? static_cast<size_t>(ref.c) : Groups(ref.c);
  const size_t gy = form.empty() ? Quads(ref.w) : static_cast<size_t>(ref.w);
  ASSERT_TRUE(Launch(engine, name)
                  .Mem(*in).Mem(*out).Mem(*weight).Mem(*bias)
                  .Short(p.input.c).Short(ref.c).Short(ref.w).Short(p.input.h).Short(p.act)
                  .Run(gx, gy, static_cast<size_t>(ref.h), !to_buffer));
  const Nhwc got = to_buffer ? dev.ReadBuffer(*out, 1, ref.h, ref.w, ref.c)
                             : dev.ReadImage(*out, 1, ref.h, ref.w, ref.c);
  EXPECT_TRUE(Matches(got, ref));
}

TEST(ClConvKernels, ThreeByThreeKernelsMatchReference) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  const FastRow rows[] = {
      {4, 4, 10, 6, 1}, {8, 12, 17, 5, 5}, {32, 5, 3, 4, 0}, {12, 17, 64, 3, 1}, {4, 8, 1, 3, 0},
  };
  Rng rng(37);
  for (const FastRow& r : rows) {
    for (int pad : {1, 0}) {
      if (pad == 0 && (r.w < 3 || r.h < 3)) continue;
      const Window g{3, 3, pad, pad, pad, pad, 1, 1, 1, 1};
      const ConvProblem p = MakeProblem(rng, r.in_c, r.out_c, r.w, r.h, g, r.act);
      RunConv3x3(engine, p, "", false);
      RunConv3x3(engine, p, "_x1", false);
      RunConv3x3(engine, p, "", true);
      RunConv3x3(engine, p, "_n1_x1", true);
    }
  }
}

// The sub-group form exists where the device offers sub-groups; a second
// engine claims them so that its program holds the kernel.  Eight lanes
// split the input channel groups of one output value.
TEST(ClConvKernels, SubGroupFormSharesInputGroupsAcrossEightLanes) {
  ASSERT_NE(Engine(), nullptr);
  opencl::clEngine sub;
  ASSERT_TRUE(testutil::InitTestEngine(sub));
  sub.khrSubgroups = true;
  std::string error;
  {
    testutil::CaptureStdout quiet;
    ASSERT_TRUE(netrun::BuildEngineProgram(sub, {{false, true}}, &error)) << error;
  }
  const FastRow rows[] = {{32, 5, 10, 4, 1}, {64, 12, 3, 5, 5}, {96, 3, 17, 3, 0}};
  Rng rng(39);
  for (const FastRow& r : rows) {
    const Window g{3, 3, 1, 1, 1, 1, 1, 1, 1, 1};
    const ConvProblem p = MakeProblem(rng, r.in_c, r.out_c, r.w, r.h, g, r.act);
    SCOPED_TRACE(Describe(p, "conv3x3_s1x1_n1_x1_sub_group8_buf_out"));
    const Nhwc ref = p.Ref();
    DeviceMem dev(&sub);
    auto in = dev.Image(0, p.input);
    auto weight = dev.Image(0, p.weight);
    auto bias = dev.Halves(engine::cl::PackBiasHalves(p.bias.data(), p.weight.n));
    auto out = dev.OutputBuffer(1, ref.h, ref.w, ref.c);
    ASSERT_TRUE(Launch(&sub, "conv3x3_s1x1_n1_x1_sub_group8_buf_out")
                    .Mem(*in).Mem(*out).Mem(*weight).Mem(*bias)
                    .Short(p.input.c).Short(ref.c).Short(ref.w).Short(p.input.h).Short(p.act)
                    .Local(8, 1, 1)
                    .Run(8, static_cast<size_t>(ref.c) * ref.w, static_cast<size_t>(ref.h)));
    EXPECT_TRUE(Matches(dev.ReadBuffer(*out, 1, ref.h, ref.w, ref.c), ref));
  }
}

// ---- byte input ------------------------------------------------------------

struct ByteRow {
  int in_c, out_c, in_w, in_h;
  Window g;
  int act;
  bool to_buffer;
};

// Runs "conv_input_uint8" (general) or "conv3x3_s2x2_input_uint8"
// (fixed 3x3, stride 2, padding 1) on random bytes.
void RunByteInput(opencl::clEngine* engine, Rng& rng, const ByteRow& r, bool fixed) {
  const std::string name =
      std::string(fixed ? "conv3x3_s2x2_input_uint8" : "conv_input_uint8") + (r.to_buffer ? "_buf_out" : "");
  const float mean[3] = {127.5f, 100.f, 80.25f};
  const float scale[3] = {1.f / 127.5f, 0.02f, -0.0175f};
  std::vector<uint8_t> bytes(static_cast<size_t>(r.in_w) * r.in_h * r.in_c);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng.Int(0, 255));
  ConvProblem p = MakeProblem(rng, r.in_c, r.out_c, r.in_w, r.in_h, r.g, r.act);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int k = static_cast<int>(i % r.in_c);
    p.input.v[i] = (static_cast<float>(bytes[i]) - mean[k]) * scale[k];
  }
  SCOPED_TRACE(Describe(p, name));
  const Nhwc ref = p.Ref();
  DeviceMem dev(engine);
  auto in = dev.Bytes(bytes);
  auto weight = dev.Halves(engine::cl::PackTexels(6, p.weight.v.data(), p.weight.n, p.weight.h,
                                                  p.weight.w, p.weight.c));
  auto bias = dev.Halves(engine::cl::PackBiasHalves(p.bias.data(), p.weight.n));
  auto out = r.to_buffer ? dev.OutputBuffer(1, ref.h, ref.w, ref.c) : dev.OutputImage(1, ref.h, ref.w, ref.c);
  Launch launch(engine, name);
  launch.Mem(*in).Mem(*out).Mem(*weight).Mem(*bias).Short(r.in_c).Short(ref.c).Short(ref.w).Short(ref.h);
  if (!fixed) {
    launch.Short(r.g.kw).Short(r.g.kh).Short(r.g.pad_l).Short(r.g.pad_t).Short(r.g.sw).Short(r.g.sh)
        .Short(r.in_w).Short(r.in_h);
  }
  for (float m : mean) launch.Float(m);
  for (float s : scale) launch.Float(s);
  launch.Short(r.act);
  ASSERT_TRUE(launch.Run(Groups(ref.c), Quads(ref.w), static_cast<size_t>(ref.h), true));
  const Nhwc got = r.to_buffer ? dev.ReadBuffer(*out, 1, ref.h, ref.w, ref.c)
                               : dev.ReadImage(*out, 1, ref.h, ref.w, ref.c);
  EXPECT_TRUE(Matches(got, ref));
}

TEST(ClConvKernels, ByteInputConvolutionsMatchReference) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(43);
  const ByteRow general[] = {
      {3, 8, 17, 6, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, 1, false},
      {1, 5, 10, 7, {5, 3, 2, 0, 0, 2, 1, 2, 1, 1}, 5, false},
      {2, 12, 3, 4, {1, 1, 0, 0, 0, 0, 1, 1, 1, 1}, 0, false},
      {3, 6, 64, 2, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, 0, true},
  };
  for (const ByteRow& r : general) RunByteInput(engine, rng, r, false);
  const Window s2{3, 3, 1, 0, 1, 0, 2, 2, 1, 1};  // in = 2 out
  const ByteRow fixed[] = {
      {3, 8, 20, 6, s2, 1, false}, {1, 4, 10, 4, s2, 5, false}, {3, 12, 2, 8, s2, 0, true},
  };
  for (const ByteRow& r : fixed) RunByteInput(engine, rng, r, true);
}

// ---- depthwise -------------------------------------------------------------

// out[y][x][c] = act(bias[c] + sum of weight[c][i][j][0] * in[..][..][c]).
Nhwc RefDepthwise(const Nhwc& in, const Nhwc& weight, const std::vector<float>& bias, const Window& g, int act) {
  Nhwc out(1, g.OutH(in.h), g.OutW(in.w), in.c);
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x)
      for (int c = 0; c < in.c; ++c) {
        double sum = bias[c], mag = std::fabs(bias[c]);
        for (int i = 0; i < g.kh; ++i)
          for (int j = 0; j < g.kw; ++j) {
            const int iy = y * g.sh + i - g.pad_t, ix = x * g.sw + j - g.pad_l;
            if (iy < 0 || iy >= in.h || ix < 0 || ix >= in.w) continue;
            const double t = static_cast<double>(weight.v[weight.Index(c, i, j, 0)]) * in.At(iy, ix, c);
            sum += t;
            mag += std::fabs(t);
          }
        out.v[out.Index(0, y, x, c)] = static_cast<float>(kerneltest::Activate(sum, act));
        out.mag[out.Index(0, y, x, c)] = mag;
      }
  return out;
}

struct DepthwiseRow {
  int c, w, h;
  Window g;
  int act;
  bool to_buffer;
};

TEST(ClConvKernels, DepthwiseKernelsMatchReference) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(47);
  const Window s1{3, 3, 1, 1, 1, 1, 1, 1, 1, 1};
  const Window s2{3, 3, 1, 1, 1, 1, 2, 2, 1, 1};
  const DepthwiseRow rows[] = {
      {4, 10, 5, s1, 0, false},  {8, 17, 4, s2, 1, false},  {32, 3, 3, s1, 5, true},
      {12, 64, 2, s2, 5, false}, {4, 1, 5, s1, 1, false},
      {8, 17, 6, {5, 3, 2, 1, 0, 2, 2, 1, 1, 1}, 1, false},  // general window
      {12, 10, 7, {2, 4, 0, 1, 2, 1, 1, 2, 1, 1}, 5, true},
  };
  for (const DepthwiseRow& r : rows) {
    Nhwc in = rng.Tensor(1, r.h, r.w, r.c, -2.f, 2.f);
    Nhwc weight = rng.Tensor(r.c, r.g.kh, r.g.kw, 1, -1.f, 1.f);
    std::vector<float> bias = rng.Values(r.c, -1.f, 1.f);
    const Nhwc ref = RefDepthwise(in, weight, bias, r.g, r.act);
    Nhwc bias_t(1, 1, 1, r.c);
    bias_t.v = bias;
    const bool three = r.g.kw == 3 && r.g.kh == 3 && r.g.pad_l == 1 && r.g.pad_t == 1;
    std::vector<std::string> forms;
    if (!three) forms = {"depthwise_conv"};
    else if (r.g.sw == 1) forms = {"depthwise_conv", "depthwise_conv3x3_s1x1"};
    else forms = {"depthwise_conv", "depthwise_conv3x3_s2x2", "depthwise_conv3x3_s2x2_x1"};
    for (const std::string& form : forms) {
      for (int w4 : {0, 1}) {
        const std::string name = form + (r.to_buffer ? "_buf_out" : "");
        SCOPED_TRACE(name + " c " + std::to_string(r.c) + " w " + std::to_string(r.w) + " w4 " + std::to_string(w4));
        DeviceMem dev(engine);
        auto input = dev.Image(w4 ? 18 : 0, in);
        auto wimg = dev.Image(6, weight);
        auto bimg = dev.Image(0, bias_t);
        auto out = r.to_buffer ? dev.OutputBuffer(1, ref.h, ref.w, ref.c) : dev.OutputImage(1, ref.h, ref.w, ref.c);
        Launch launch(engine, name);
        launch.Mem(*input).Mem(*out).Mem(*wimg).Mem(*bimg);
        size_t gy = Quads(ref.w);
        if (form == "depthwise_conv") {
          launch.Short(r.c).Short(r.g.kw).Short(r.g.kh).Short(r.g.pad_l).Short(r.g.pad_t).Short(r.g.sw)
              .Short(r.g.sh).Short(ref.w).Short(r.h).Short(w4).Short(r.act);
        } else {
          launch.Int((r.c << 18) | (ref.w << 4) | r.act).Short(r.h).Short(w4);
          if (form == "depthwise_conv3x3_s2x2_x1") gy = static_cast<size_t>(ref.w);
        }
        ASSERT_TRUE(launch.Run(Groups(r.c), gy, static_cast<size_t>(ref.h), !r.to_buffer));
        const Nhwc got = r.to_buffer ? dev.ReadBuffer(*out, 1, ref.h, ref.w, ref.c)
                                     : dev.ReadImage(*out, 1, ref.h, ref.w, ref.c);
        EXPECT_TRUE(Matches(got, ref));
      }
    }
  }
}

TEST(ClConvKernels, TwoInputDepthwiseTakesChannelsFromBothInputs) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(53);
  const Window s1{3, 3, 1, 1, 1, 1, 1, 1, 1, 1};
  struct Row { int c0, c1, w, h, act; };
  for (const Row& r : {Row{4, 4, 10, 4, 1}, Row{8, 4, 17, 3, 5}, Row{2, 6, 3, 5, 0}, Row{6, 6, 64, 2, 1}}) {
    SCOPED_TRACE("c0 " + std::to_string(r.c0) + " c1 " + std::to_string(r.c1) + " w " + std::to_string(r.w));
    const int c = r.c0 + r.c1;
    Nhwc in0 = rng.Tensor(1, r.h, r.w, r.c0, -2.f, 2.f);
    Nhwc in1 = rng.Tensor(1, r.h, r.w, r.c1, -2.f, 2.f);
    Nhwc joined(1, r.h, r.w, c);
    for (int y = 0; y < r.h; ++y)
      for (int x = 0; x < r.w; ++x)
        for (int ch = 0; ch < c; ++ch)
          joined.v[joined.Index(0, y, x, ch)] = ch < r.c0 ? in0.At(y, x, ch) : in1.At(y, x, ch - r.c0);
    Nhwc weight = rng.Tensor(c, 3, 3, 1, -1.f, 1.f);
    Nhwc bias_t = rng.Tensor(1, 1, 1, c, -1.f, 1.f);
    const Nhwc ref = RefDepthwise(joined, weight, bias_t.v, s1, r.act);
    DeviceMem dev(engine);
    auto i0 = dev.Image(0, in0);
    auto i1 = dev.Image(0, in1);
    auto wimg = dev.Image(6, weight);
    auto bimg = dev.Image(0, bias_t);
    auto out = dev.OutputImage(1, ref.h, ref.w, ref.c);
    ASSERT_TRUE(Launch(engine, "depthwise_in2_conv3x3_s1x1")
                    .Mem(*i0).Mem(*i1).Mem(*out).Mem(*wimg).Mem(*bimg)
                    .Short(r.c0).Short(r.c1).Short(ref.w).Short(r.h).Short(0).Short(r.act)
                    .Run(Groups(c), Quads(ref.w), static_cast<size_t>(ref.h), true));
    EXPECT_TRUE(Matches(dev.ReadImage(*out, 1, ref.h, ref.w, ref.c), ref));
  }
}

// ---- transposed ------------------------------------------------------------

// Every input pixel scattered over the window at stride 2:
// out[2 iy + i - pad_t][2 ix + j - pad_l][oc] += weight[ic][i][j][oc] * in[iy][ix][ic].
Nhwc RefDeconv(const Nhwc& in, const Nhwc& weight, const std::vector<float>& bias, int pad_l,
               int pad_t, int out_w, int out_h) {
  Nhwc out(1, out_h, out_w, weight.c);
  std::vector<double> sum(out.v.size()), mag(out.v.size());
  for (int y = 0; y < out_h; ++y)
    for (int x = 0; x < out_w; ++x)
      for (int oc = 0; oc < weight.c; ++oc) {
        sum[out.Index(0, y, x, oc)] = bias[oc];
        mag[out.Index(0, y, x, oc)] = std::fabs(bias[oc]);
      }
  for (int iy = 0; iy < in.h; ++iy)
    for (int ix = 0; ix < in.w; ++ix)
      for (int i = 0; i < weight.h; ++i)
        for (int j = 0; j < weight.w; ++j) {
          const int y = 2 * iy + i - pad_t, x = 2 * ix + j - pad_l;
          if (y < 0 || y >= out_h || x < 0 || x >= out_w) continue;
          for (int ic = 0; ic < in.c; ++ic)
            for (int oc = 0; oc < weight.c; ++oc) {
              const double t = static_cast<double>(weight.v[weight.Index(ic, i, j, oc)]) * in.At(iy, ix, ic);
              sum[out.Index(0, y, x, oc)] += t;
              mag[out.Index(0, y, x, oc)] += std::fabs(t);
            }
        }
  for (size_t k = 0; k < sum.size(); ++k) {
    out.v[k] = static_cast<float>(sum[k]);
    out.mag[k] = mag[k];
  }
  return out;
}

TEST(ClConvKernels, TransposedKernelsMatchReference) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(59);
  struct Row { int in_c, out_c, in_w, in_h, kw, kh, pad_l, pad_r, pad_t, pad_b; bool to_buffer; };
  const Row rows[] = {
      {4, 8, 4, 3, 2, 2, 0, 0, 0, 0, false},   {8, 4, 5, 4, 4, 4, 1, 1, 1, 1, false},
      {4, 12, 9, 2, 4, 3, 2, 0, 0, 1, false},  {12, 8, 2, 3, 2, 2, 0, 0, 0, 0, true},
      {4, 3, 4, 3, 2, 2, 0, 0, 0, 0, false},   {8, 5, 5, 4, 4, 4, 1, 1, 1, 1, false},
      {4, 17, 3, 2, 4, 3, 1, 1, 1, 0, false},  {4, 1, 8, 2, 2, 2, 0, 0, 0, 0, false},
  };
  for (const Row& r : rows) {
    const int out_w = (r.in_w - 1) * 2 + r.kw - r.pad_l - r.pad_r;
    const int out_h = (r.in_h - 1) * 2 + r.kh - r.pad_t - r.pad_b;
    const bool nx = r.out_c % 4 == 0;
    const std::string name = std::string(nx ? "deconv_s2x2_nx" : "deconv_s2x2_cx") + (r.to_buffer ? "_buf_out" : "");
    SCOPED_TRACE(name + " in " + std::to_string(r.in_w) + "x" + std::to_string(r.in_h) + "x" +
                 std::to_string(r.in_c) + " out c " + std::to_string(r.out_c) + " k " +
                 std::to_string(r.kw) + "x" + std::to_string(r.kh));
    Nhwc in = rng.Tensor(1, r.in_h, r.in_w, r.in_c, -2.f, 2.f);
    Nhwc weight = rng.Tensor(r.in_c, r.kh, r.kw, r.out_c, -1.f, 1.f);
    std::vector<float> bias = rng.Values(r.out_c, -1.f, 1.f);
    const Nhwc ref = RefDeconv(in, weight, bias, r.pad_l, r.pad_t, out_w, out_h);
    DeviceMem dev(engine);
    auto input = dev.Image(0, in);
    auto wimg = dev.Image(nx ? 6 : 0, weight);
    auto b = dev.Halves(engine::cl::PackBiasHalves(bias.data(), r.out_c));
    const bool buffer = r.to_buffer || !nx;
    auto out = buffer ? dev.OutputBuffer(1, out_h, out_w, r.out_c) : dev.OutputImage(1, out_h, out_w, r.out_c);
    ASSERT_TRUE(Launch(engine, name)
                    .Mem(*input).Mem(*out).Mem(*wimg).Mem(*b)
                    .Short(r.in_c).Short(r.out_c).Short(out_w).Short(r.in_h).Short(r.kw).Short(r.kh)
                    .Short(r.kw - r.pad_l - 1).Short(r.kh - r.pad_t - 1)
                    .Run(nx ? Groups(r.out_c) : static_cast<size_t>(r.out_c), Quads(out_w),
                         static_cast<size_t>(out_h), !buffer));
    const Nhwc got = buffer ? dev.ReadBuffer(*out, 1, out_h, out_w, r.out_c)
                            : dev.ReadImage(*out, 1, out_h, out_w, r.out_c);
    EXPECT_TRUE(Matches(got, ref));
  }
}

// ---- image_to_buf ----------------------------------------------------------

TEST(ClConvKernels, ImageToBufferStoresOnlyExistingChannels) {
  opencl::clEngine* engine = Engine();
  ASSERT_NE(engine, nullptr);
  Rng rng(41);
  for (int c : {1, 2, 3, 5, 8, 17}) {
    for (int w : {1, 10}) {
      SCOPED_TRACE("c " + std::to_string(c) + " w " + std::to_string(w));
      const Nhwc t = rng.Tensor(1, 3, w, c, -4.f, 4.f);
      DeviceMem dev(engine);
      auto in = dev.Image(0, t);
      auto out = dev.OutputBuffer(1, t.h, t.w, t.c);
      ASSERT_TRUE(Launch(engine, "image_to_buf").Mem(*in).Mem(*out).Short(c).Short(w).Short(t.h)
                      .Run(Groups(c), static_cast<size_t>(w), static_cast<size_t>(t.h), true));
      const Nhwc got = dev.ReadBuffer(*out, 1, t.h, t.w, t.c);
      EXPECT_EQ(got.v, t.v);
    }
  }
}

}  // namespace
