// The convolution kernels of the engine program, driven one by one on the
// device against the plain reference of cl_kernel_harness.h (tolerance
// stated there): the generic kernel, the 1x1 and 3x3 fast kernels in their
// pixel-block, single-pixel, four-pixel-input and single-channel forms, to
// images and to NHWC buffers.
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
