// The convolution family at the OpenCL level: which kernel each shape
// takes (and which shapes stay on the CPU), results on the device against
// plain double loops, activation folding into the kernels, and when
// tensors move between host and device.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/cl/base.h"
#include "engine/cl/conv.h"
#include "engine/core/activation.h"
#include "tests/engine/cl_device.h"
#include "tests/engine/conv_reference.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace convref;

// Device results: inputs, weights and bias each pass through one half
// conversion (relative error 2^-11) before a float accumulation, and the
// result through one more, so the error stays below about 3 x 2^-11 of the
// sum of the absolute products.
constexpr double kDeviceRelTol = 2e-3;
constexpr double kDeviceAbsTol = 1e-3;

// ---------------------------------------------------------------------------
// Kernel choice, without a device.

struct PlanCase {
  const char* label;
  Geometry g;
  int in_c, out_c, out_h, out_w;
  bool byte_input, to_reshape, sub_groups;
  const char* kernel;  // "" : stays on the CPU
  int in_h = 0, in_w = 0;  // 0: the extent the window needs for the output
};

std::ostream& operator<<(std::ostream& os, const PlanCase& c) { return os << c.label; }

class Plan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(Plan, KernelName) {
  const PlanCase& c = GetParam();
  engine::WindowParams p;
  p.kernel_w = c.g.kw;
  p.kernel_h = c.g.kh;
  p.pad_w0 = c.g.pw0;
  p.pad_w1 = c.g.pw1;
  p.pad_h0 = c.g.ph0;
  p.pad_h1 = c.g.ph1;
  p.stride_w = c.g.sw;
  p.stride_h = c.g.sh;
  p.dilation_w = c.g.dw;
  p.dilation_h = c.g.dh;
  // The input extent a stride-1 (or stride-2) window with these pads needs.
  const int in_h = (c.out_h - 1) * c.g.sh + (c.g.kh - 1) * c.g.dh + 1 - c.g.ph0 - c.g.ph1;
  const int in_w = (c.out_w - 1) * c.g.sw + (c.g.kw - 1) * c.g.dw + 1 - c.g.pw0 - c.g.pw1;
  const engine::cl::ConvPlan plan =
      engine::cl::PlanConv(p, c.in_h > 0 ? c.in_h : in_h, c.in_w > 0 ? c.in_w : in_w, c.in_c, 0,
                           c.out_c, c.out_h, c.out_w, c.byte_input, c.to_reshape, c.sub_groups);
  EXPECT_EQ(plan.kernel, c.kernel);
}

constexpr Geometry k3p1{3, 3, 1, 1, 1, 1, 1, 1, 1, 1};
constexpr Geometry k1{1, 1, 0, 0, 0, 0, 1, 1, 1, 1};

INSTANTIATE_TEST_SUITE_P(Table, Plan, ::testing::Values(
    PlanCase{"3x3_s1_on_6_channels_generic", k3p1, 6, 8, 16, 16, false, false, false, "conv"},
    PlanCase{"1x1_10_wide_32_out_x1", k1, 8, 32, 8, 10, false, false, false, "conv1x1_s1x1_x1"},
    PlanCase{"1x1_large", k1, 16, 32, 16, 64, false, false, false, "conv1x1_s1x1"},
    PlanCase{"1x1_few_values_x1", k1, 8, 8, 4, 16, false, false, false, "conv1x1_s1x1_x1"},
    PlanCase{"1x1_to_reshape", k1, 8, 8, 4, 16, false, true, false, "conv1x1_s1x1_x1_buf_out"},
    PlanCase{"1x1_leading_pad_generic", {1, 1, 1, 0, 0, 0, 1, 1, 1, 1}, 8, 8, 16, 64, false, false, false, "conv"},
    PlanCase{"3x3_large", k3p1, 8, 16, 16, 64, false, false, false, "conv3x3_s1x1"},
    PlanCase{"3x3_small_x1", k3p1, 8, 4, 5, 10, false, false, false, "conv3x3_s1x1_x1"},
    PlanCase{"3x3_to_reshape", k3p1, 8, 4, 16, 64, false, true, false, "conv3x3_s1x1_n1_x1_buf_out"},
    PlanCase{"3x3_to_reshape_sub_groups", k3p1, 32, 4, 16, 64, false, true, true,
             "conv3x3_s1x1_n1_x1_sub_group8_buf_out"},
    PlanCase{"3x3_sub_groups_need_32_inputs", k3p1, 16, 4, 16, 64, false, true, true,
             "conv3x3_s1x1_n1_x1_buf_out"},
    PlanCase{"3x3_pad0_generic_not_shifted", {3, 3, 0, 0, 0, 0, 1, 1, 1, 1}, 8, 8, 14, 62, false, false, false, "conv"},
    PlanCase{"3x3_asymmetric_pads_generic", {3, 3, 1, 0, 1, 2, 1, 1, 1, 1}, 8, 8, 17, 63, false, false, false, "conv"},
    PlanCase{"3x3_dilated_generic", {3, 3, 2, 2, 2, 2, 1, 1, 2, 2}, 8, 8, 16, 64, false, false, false, "conv"},
    PlanCase{"3x3_stride2_generic", {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, 8, 8, 8, 32, false, false, false, "conv"},
    PlanCase{"generic_to_reshape", {5, 5, 2, 2, 2, 2, 1, 1, 1, 1}, 6, 8, 8, 8, false, true, false, "conv_buf_out"},
    PlanCase{"5x5_single_float_channel_cpu", {5, 5, 2, 2, 2, 2, 1, 1, 1, 1}, 1, 8, 16, 16, false, false, false, ""},
    PlanCase{"bytes_3x3_s2", {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, 3, 16, 8, 8, true, false, false, "conv3x3_s2x2_input_uint8", 16, 16},
    PlanCase{"bytes_3x3_s2_odd_input_general", {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, 3, 16, 8, 8, true, false, false, "conv_input_uint8", 15, 16},
    PlanCase{"bytes_3x3_s2_pad0_general", {3, 3, 0, 0, 0, 0, 2, 2, 1, 1}, 3, 16, 8, 8, true, false, false, "conv_input_uint8"},
    PlanCase{"bytes_3x3_s2_odd_out_general", {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, 1, 6, 8, 8, true, false, false, "conv_input_uint8"},
    PlanCase{"bytes_dilated_cpu", {3, 3, 2, 2, 2, 2, 1, 1, 2, 2}, 1, 8, 8, 8, true, false, false, ""}));

// ---------------------------------------------------------------------------
// Layers on the device.

struct DeviceCase {
  const char* label;
  const char* type;
  int h, w, in_c, out_c;
  Geometry g;
  bool byte_input;
  const char* placement;  // "cl:<kernel>", or "cpu:" for any CPU kernel
};

std::ostream& operator<<(std::ostream& os, const DeviceCase& c) { return os << c.label; }

struct Built {
  std::vector<float> in, w, bias;
};

// Random input (or bytes), weights and non-zero bias for a layer "x" -> "y".
Built Fill(enginetest::Bench* b, const DeviceCase& c, std::mt19937* rng) {
  Built v;
  const bool depthwise = std::string(c.type) == "DepthwiseConv";
  const bool transposed = std::string(c.type) == "ConvTranspose";
  engine::Tensor& x = b->Input("x", 1, c.h, c.w, c.in_c);
  if (c.byte_input) {
    const float mean[3] = {127.5f, 100.f, 10.f}, scale[3] = {1 / 127.5f, 0.02f, -0.05f};
    std::copy(mean, mean + 3, x.mean);
    std::copy(scale, scale + 3, x.scale);
    uint8_t* u8 = x.ensure_u8();
    v.in.resize(x.elements());
    for (size_t i = 0; i < x.elements(); ++i) {
      u8[i] = static_cast<uint8_t>((*rng)() & 0xFF);
      v.in[i] = (u8[i] - mean[i % c.in_c % 3]) * scale[i % c.in_c % 3];
    }
  } else {
    v.in = Random(rng, x.elements(), -1.f, 1.f);
    std::copy(v.in.begin(), v.in.end(), x.ensure_host());
  }
  engine::Tensor& wt = transposed ? b->Weight("w", c.in_c, c.g.kh, c.g.kw, c.out_c)
                                  : b->Weight("w", c.out_c, c.g.kh, c.g.kw, depthwise ? 1 : c.in_c);
  v.w = Random(rng, wt.elements(), -1.f, 1.f);
  std::copy(v.w.begin(), v.w.end(), wt.ensure_host());
  engine::Tensor& bt = b->Weight("b", 1, 1, 1, c.out_c);
  v.bias = Random(rng, bt.elements(), -0.5f, 0.5f);
  std::copy(v.bias.begin(), v.bias.end(), bt.ensure_host());
  return v;
}

std::vector<int> Params(const Geometry& g) {
  return {g.kw, g.kh, g.pw0, g.pw1, g.ph0, g.ph1, g.sw, g.sh, g.dw, g.dh};
}

Expected Reference(const DeviceCase& c, const Built& v) {
  if (std::string(c.type) == "ConvTranspose")
    return RefTransposed(v.in, c.h, c.w, c.in_c, v.w, v.bias, c.out_c, c.g);
  return RefForward(v.in, c.h, c.w, c.in_c, v.w, v.bias, c.out_c, c.g,
                    std::string(c.type) == "DepthwiseConv");
}

class DeviceLayer : public ::testing::TestWithParam<DeviceCase> {
 protected:
  void SetUp() override { ASSERT_NE(cltest::Device(), nullptr); }
};

// Two runs: the same values each time, and one launch of the named kernel
// per run, counted by the device library.
TEST_P(DeviceLayer, KernelAndValues) {
  const DeviceCase& c = GetParam();
  std::mt19937 rng(std::hash<std::string>()(c.label) & 0xFFFFFFFF);
  enginetest::Bench b;
  b.env.engine = cltest::Device();
  const Built v = Fill(&b, c, &rng);
  engine::Layer* l = b.Add({c.type, {"x", "y"}, Params(c.g), {"w", "b"}});
  ASSERT_NE(l, nullptr);
  bool shaped = false;
  {
    testutil::CaptureStdout quiet;  // kernel creation logs its work-group size
    shaped = l->reshape(b.env);
  }
  ASSERT_TRUE(shaped) << l->last_error;
  const std::string want = c.placement;
  const bool on_device = want.compare(0, 3, "cl:") == 0;
  const long before = on_device ? cltest::NamedEnqueues(want.c_str() + 3) : 0;
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(l->run(b.env)) << l->last_error;
    if (on_device) {
      EXPECT_EQ(l->placement, want);
    } else {
      EXPECT_EQ(l->placement.compare(0, 4, "cpu:"), 0) << l->placement;
    }
    const double rel = on_device ? kDeviceRelTol : kRelTol;
    const double abs = on_device ? kDeviceAbsTol : kAbsTol;
    EXPECT_EQ(Mismatches(*l->outputs[0], Reference(c, v), 0, 0, rel, abs), 0) << "run " << run;
  }
  if (on_device) {
    if (cltest::CountsLaunches()) {
      EXPECT_EQ(cltest::NamedEnqueues(want.c_str() + 3) - before, 2);
    }
  }
}

// Geometry: kernel w, h; pads w0, w1, h0, h1; strides w, h; dilations w, h.
INSTANTIATE_TEST_SUITE_P(Conv, DeviceLayer, ::testing::Values(
    DeviceCase{"c6_3x3_generic", "Conv", 9, 10, 6, 8, k3p1, false, "cl:conv"},
    DeviceCase{"c8_1x1_w10_to32_x1", "Conv", 4, 10, 8, 32, k1, false, "cl:conv1x1_s1x1_x1"},
    DeviceCase{"c16_1x1_w64_large", "Conv", 16, 64, 16, 32, k1, false, "cl:conv1x1_s1x1"},
    DeviceCase{"c12_1x1_w17_to5", "Conv", 3, 17, 12, 5, k1, false, "cl:conv1x1_s1x1_x1"},
    DeviceCase{"c8_3x3_w64_large", "Conv", 16, 64, 8, 16, k3p1, false, "cl:conv3x3_s1x1"},
    DeviceCase{"c8_3x3_w10_small", "Conv", 5, 10, 8, 4, k3p1, false, "cl:conv3x3_s1x1_x1"},
    DeviceCase{"c32_3x3_w17_to12", "Conv", 6, 17, 32, 12, k3p1, false, "cl:conv3x3_s1x1_x1"},
    DeviceCase{"c32_3x3_asym_generic", "Conv", 6, 17, 32, 12, {3, 3, 1, 0, 1, 2, 1, 1, 1, 1}, false, "cl:conv"},
    DeviceCase{"c8_3x3_pad0_generic", "Conv", 7, 10, 8, 8, {3, 3, 0, 0, 0, 0, 1, 1, 1, 1}, false, "cl:conv"},
    DeviceCase{"c17_s2_dil2_asym", "Conv", 11, 17, 17, 6, {3, 3, 2, 1, 0, 3, 2, 2, 2, 2}, false, "cl:conv"},
    DeviceCase{"c2_5x3_w3_to1", "Conv", 6, 3, 2, 1, {5, 3, 2, 2, 1, 1, 1, 1, 1, 1}, false, "cl:conv"},
    DeviceCase{"c3_w1_to5", "Conv", 8, 1, 3, 5, k3p1, false, "cl:conv"},
    DeviceCase{"c5_w64_s2_to17", "Conv", 5, 64, 5, 17, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, false, "cl:conv"},
    DeviceCase{"c1_5x5_float_cpu", "Conv", 8, 10, 1, 8, {5, 5, 2, 2, 2, 2, 1, 1, 1, 1}, false, "cpu:"},
    DeviceCase{"bytes_c3_3x3_s2", "Conv", 10, 18, 3, 8, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, true, "cl:conv3x3_s2x2_input_uint8"},
    DeviceCase{"bytes_c3_3x3_s2_odd_general", "Conv", 9, 17, 3, 8, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, true, "cl:conv_input_uint8"},
    DeviceCase{"bytes_c1_3x3_s2", "Conv", 10, 10, 1, 4, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, true, "cl:conv3x3_s2x2_input_uint8"},
    DeviceCase{"bytes_c1_5x5_general", "Conv", 7, 10, 1, 6, {5, 5, 2, 1, 0, 2, 1, 2, 1, 1}, true, "cl:conv_input_uint8"},
    DeviceCase{"bytes_dilated_cpu", "Conv", 7, 10, 3, 4, {3, 3, 2, 2, 2, 2, 1, 1, 2, 2}, true, "cpu:"}));

INSTANTIATE_TEST_SUITE_P(Depthwise, DeviceLayer, ::testing::Values(
    DeviceCase{"dw_c8_s1", "DepthwiseConv", 6, 17, 8, 8, k3p1, false, "cl:depthwise_conv3x3_s1x1"},
    DeviceCase{"dw_c12_s2", "DepthwiseConv", 9, 10, 12, 12, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, false, "cl:depthwise_conv3x3_s2x2_x1"},
    DeviceCase{"dw_c32_5x5_asym", "DepthwiseConv", 7, 64, 32, 32, {5, 5, 2, 0, 1, 2, 1, 1, 1, 1}, false, "cl:depthwise_conv"},
    DeviceCase{"dw_c4_w1_pad0", "DepthwiseConv", 5, 1, 4, 4, {3, 3, 0, 2, 0, 0, 1, 1, 1, 1}, false, "cl:depthwise_conv"},
    DeviceCase{"dw_c6_cpu", "DepthwiseConv", 5, 10, 6, 6, k3p1, false, "cpu:"},
    DeviceCase{"dw_c8_dilated_cpu", "DepthwiseConv", 9, 10, 8, 8, {3, 3, 2, 2, 2, 2, 1, 1, 2, 2}, false, "cpu:"}));

INSTANTIATE_TEST_SUITE_P(Transposed, DeviceLayer, ::testing::Values(
    DeviceCase{"deconv_c8_to8_k2", "ConvTranspose", 3, 10, 8, 8, {2, 2, 0, 0, 0, 0, 2, 2, 1, 1}, false, "cl:deconv_s2x2_nx"},
    DeviceCase{"deconv_c4_to3_k4_pad1", "ConvTranspose", 4, 10, 4, 3, {4, 4, 1, 1, 1, 1, 2, 2, 1, 1}, false, "cl:deconv_s2x2_cx"},
    DeviceCase{"deconv_c12_to17_k2", "ConvTranspose", 2, 2, 12, 17, {2, 2, 0, 0, 0, 0, 2, 2, 1, 1}, false, "cl:deconv_s2x2_cx"},
    DeviceCase{"deconv_stride1_cpu", "ConvTranspose", 3, 10, 8, 8, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, false, "cpu:"},
    DeviceCase{"deconv_odd_kernel_cpu", "ConvTranspose", 3, 10, 8, 8, {3, 3, 1, 0, 1, 0, 2, 2, 1, 1}, false, "cpu:"}));

// A convolution whose only consumer is a Reshape writes a buffer.
TEST(DeviceLayer, OutputForReshapeIsABuffer) {
  ASSERT_NE(cltest::Device(), nullptr);
  for (const DeviceCase& c :
       {DeviceCase{"3x3", "Conv", 6, 10, 8, 4, k3p1, false, "cl:conv3x3_s1x1_n1_x1_buf_out"},
        DeviceCase{"1x1", "Conv", 4, 10, 8, 6, k1, false, "cl:conv1x1_s1x1_x1_buf_out"}}) {
    SCOPED_TRACE(c.label);
    std::mt19937 rng(11);
    enginetest::Bench b;
    b.env.engine = cltest::Device();
    const Built v = Fill(&b, c, &rng);
    engine::Layer* l = b.Add({c.type, {"x", "y"}, Params(c.g), {"w", "b"}}, "conv");
    engine::Layer* r = b.Add({"Reshape", {"y", "z"}, {1, 1, -1, 1}, {}}, "flat");
    ASSERT_NE(r, nullptr);
    {
      testutil::CaptureStdout quiet;
      l->reshape(b.env);
    }
    ASSERT_TRUE(l->run(b.env)) << l->last_error;
    EXPECT_EQ(l->placement, c.placement);
    EXPECT_TRUE(dynamic_cast<engine::cl::Conv*>(l)->buffer_out);
    EXPECT_EQ(Mismatches(*l->outputs[0], Reference(c, v), 0, 0, kDeviceRelTol, kDeviceAbsTol), 0);
  }
}

// An image wider than the device allows stays on the CPU.
TEST(DeviceLayer, ImageWiderThanTheDeviceRunsOnTheCpu) {
  ASSERT_NE(cltest::Device(), nullptr);
  const size_t limit = engine::cl::MaxImageWidth(cltest::Device());
  ASSERT_GT(limit, 0u);
  const DeviceCase c{"wide", "Conv", 1, static_cast<int>(limit) + 1, 4, 4, k1, false, "cpu:"};
  std::mt19937 rng(13);
  enginetest::Bench b;
  b.env.engine = cltest::Device();
  const Built v = Fill(&b, c, &rng);
  engine::Layer* l = b.Add({c.type, {"x", "y"}, Params(c.g), {"w", "b"}});
  ASSERT_TRUE(l->reshape(b.env)) << l->last_error;
  ASSERT_TRUE(l->run(b.env)) << l->last_error;
  EXPECT_EQ(l->placement.compare(0, 4, "cpu:"), 0) << l->placement;
  EXPECT_EQ(Mismatches(*l->outputs[0], Reference(c, v), 0, 0), 0);
}

// ---------------------------------------------------------------------------
// Folding and movement in small chains.

struct Chain {
  enginetest::Bench b;
  std::vector<engine::Layer*> order;
  Built v1;
  std::vector<float> w2, bias2;
};

constexpr float kStale = std::numeric_limits<float>::quiet_NaN();

// x -(conv a, 8->8 3x3)-> y [-(in-place act)-> y] -(conv b, 8->4 3x3)-> z
void BuildChain(Chain* ch, const char* act_type, int kind, float alpha, bool device) {
  std::mt19937 rng(17);
  enginetest::Bench& b = ch->b;
  if (device) b.env.engine = cltest::Device();
  const DeviceCase first{"a", "Conv", 6, 12, 8, 8, k3p1, false, ""};
  ch->v1 = Fill(&b, first, &rng);
  engine::Tensor& w2 = b.Weight("w2", 4, 3, 3, 8);
  ch->w2 = Random(&rng, w2.elements(), -1.f, 1.f);
  std::copy(ch->w2.begin(), ch->w2.end(), w2.ensure_host());
  engine::Tensor& b2 = b.Weight("b2", 1, 1, 1, 4);
  ch->bias2 = Random(&rng, b2.elements(), -0.5f, 0.5f);
  std::copy(ch->bias2.begin(), ch->bias2.end(), b2.ensure_host());
  ch->order.push_back(b.Add({"Conv", {"x", "y"}, Params(k3p1), {"w", "b"}}, "a"));
  if (act_type != nullptr) ch->order.push_back(b.Add({act_type, {"y", "y"}, {kind}, {}, alpha}, "act"));
  ch->order.push_back(b.Add({"Conv", {"y", "z"}, Params(k3p1), {"w2", "b2"}}, "b"));
}

bool RunChain(Chain* ch) {
  {
    testutil::CaptureStdout quiet;
    for (engine::Layer* l : ch->order)
      if (!l->reshape(ch->b.env)) return false;
  }
  // Host copies the device should not need to refresh.
  float* y = ch->b.tensors["y"].ensure_host();
  std::fill(y, y + ch->b.tensors["y"].elements(), kStale);
  for (engine::Layer* l : ch->order)
    if (!l->run(ch->b.env)) return false;
  return true;
}

Expected ChainReference(const Chain& ch, int kind, float alpha) {
  const Expected y = RefForward(ch.v1.in, 6, 12, 8, ch.v1.w, ch.v1.bias, 8, k3p1, false);
  std::vector<float> act(y.value.v.size());
  for (size_t i = 0; i < act.size(); ++i)
    act[i] = static_cast<float>(Activate(y.value.v[i], kind, alpha));
  return RefForward(act, 6, 12, 8, ch.w2, ch.bias2, 4, k3p1, false);
}

TEST(DeviceChain, OutputConsumedOnlyOnTheDeviceIsNotReadBack) {
  ASSERT_NE(cltest::Device(), nullptr);
  Chain ch;
  BuildChain(&ch, nullptr, 0, 0.f, true);
  ASSERT_TRUE(RunChain(&ch));
  EXPECT_EQ(ch.order[0]->placement, "cl:conv3x3_s1x1_x1");
  EXPECT_EQ(ch.order[1]->placement, "cl:conv3x3_s1x1_x1");
  EXPECT_TRUE(std::isnan(ch.b.tensors["y"].host_data[0])) << "intermediate was read back";
  // The last output has no consumer: read back.
  EXPECT_EQ(Mismatches(ch.b.tensors["z"], ChainReference(ch, 0, 0.f), 0, 0, kDeviceRelTol * 2,
                       kDeviceAbsTol * 2),
            0);
}

struct FoldChainCase {
  const char* label;
  const char* act_type;
  int kind;
  float alpha;
  bool fused;  // applied by the first convolution's kernel
};

std::ostream& operator<<(std::ostream& os, const FoldChainCase& c) { return os << c.label; }

class DeviceFold : public ::testing::TestWithParam<FoldChainCase> {};

// cl conv -> in-place activation -> cl conv: a kernel-applied activation
// (kinds 1 and 5) is marked fused and skipped; any other runs on the host,
// so the first output is read back and the second convolution uploads the
// activated values.  Either way the chain matches the reference.
TEST_P(DeviceFold, ChainMatchesReference) {
  ASSERT_NE(cltest::Device(), nullptr);
  const FoldChainCase& c = GetParam();
  Chain ch;
  BuildChain(&ch, c.act_type, c.kind, c.alpha, true);
  ASSERT_TRUE(RunChain(&ch)) << ch.order[0]->last_error << ch.order[2]->last_error;
  auto* first = dynamic_cast<engine::cl::Base*>(ch.order[0]);
  EXPECT_EQ(first->activation_flag, c.fused ? c.kind : 0);
  EXPECT_EQ(ch.order[1]->placement, c.fused ? "cpu:folded" : "cpu:activation");
  EXPECT_FALSE(dynamic_cast<engine::core::Activation*>(ch.order[1])->fused);
  EXPECT_EQ(std::isnan(ch.b.tensors["y"].host_data[0]), c.fused);
  EXPECT_EQ(Mismatches(ch.b.tensors["z"], ChainReference(ch, c.kind, c.alpha), 0, 0,
                       kDeviceRelTol * 2, kDeviceAbsTol * 2),
            0);
}

INSTANTIATE_TEST_SUITE_P(Activations, DeviceFold, ::testing::Values(
    FoldChainCase{"relu_fused", "Relu", 1, 0.f, true},
    FoldChainCase{"sigmoid_fused", "Sigmoid", 5, 0.f, true},
    FoldChainCase{"leaky_not_fused", "LeakyRelu", 6, 0.1f, false},
    FoldChainCase{"capped_not_fused", "Activation", 2, 0.3f, false}));

// A consumer on the CPU gets the values on the host.
TEST(DeviceChain, HostConsumerGetsTheValues) {
  ASSERT_NE(cltest::Device(), nullptr);
  Chain ch;
  BuildChain(&ch, nullptr, 0, 0.f, true);
  // The second convolution on the CPU: no engine for it.
  ch.b.env.engine = cltest::Device();
  engine::core::RunEnv cpu;
  {
    testutil::CaptureStdout quiet;
    ASSERT_TRUE(ch.order[0]->reshape(ch.b.env));
    ASSERT_TRUE(ch.order[1]->reshape(cpu));
  }
  ASSERT_TRUE(ch.order[0]->run(ch.b.env));
  ASSERT_TRUE(ch.order[1]->run(cpu));
  EXPECT_EQ(ch.order[0]->placement, "cl:conv3x3_s1x1_x1");
  EXPECT_EQ(ch.order[1]->placement.compare(0, 4, "cpu:"), 0);
  EXPECT_EQ(Mismatches(ch.b.tensors["z"], ChainReference(ch, 0, 0.f), 0, 0, kDeviceRelTol * 2,
                       kDeviceAbsTol * 2),
            0);
}

}  // namespace
