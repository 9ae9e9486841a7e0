// The CPU convolution family (Conv, DepthwiseConv, ConvTranspose) on both
// paths against plain double-precision loops written here from the
// definition of a convolution, the kernel choice table, activation
// folding and 8-bit input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/core/activation.h"
#include "engine/core/conv.h"
#include "engine/cpu_info.h"
#include "engine/simd/conv.h"
#include "tests/engine/cl_device.h"
#include "tests/engine/conv_reference.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace convref;

struct ComputeCase {
  const char* label;
  const char* type;  // "Conv", "DepthwiseConv", "ConvTranspose"
  int h, w, in_c, out_c;
  Geometry g;
};

std::ostream& operator<<(std::ostream& os, const ComputeCase& c) { return os << c.label; }

// Builds the layer with random inputs (negative ones included), weights
// and a non-zero bias, runs it on the plain or the wide path and checks it
// against the reference.
void CheckCase(const ComputeCase& c, bool generic, opencl::clEngine* device = nullptr) {
  std::mt19937 rng(std::hash<std::string>()(c.label) & 0xFFFFFFFF);
  enginetest::Bench b;
  b.env.generic_cpu = generic;
  b.env.engine = device;
  const bool depthwise = std::string(c.type) == "DepthwiseConv";
  const bool transposed = std::string(c.type) == "ConvTranspose";
  engine::Tensor& x = b.Input("x", 1, c.h, c.w, c.in_c);
  const std::vector<float> in = Random(&rng, x.elements(), -1.f, 1.f);
  std::copy(in.begin(), in.end(), x.ensure_host());
  engine::Tensor& wt = transposed ? b.Weight("w", c.in_c, c.g.kh, c.g.kw, c.out_c)
                                  : b.Weight("w", c.out_c, c.g.kh, c.g.kw, depthwise ? 1 : c.in_c);
  const std::vector<float> w = Random(&rng, wt.elements(), -1.f, 1.f);
  std::copy(w.begin(), w.end(), wt.ensure_host());
  engine::Tensor& bt = b.Weight("b", 1, 1, 1, c.out_c);
  const std::vector<float> bias = Random(&rng, bt.elements(), -0.5f, 0.5f);
  std::copy(bias.begin(), bias.end(), bt.ensure_host());
  const Geometry& g = c.g;
  engine::Layer* l = b.Add({c.type, {"x", "y"},
                            {g.kw, g.kh, g.pw0, g.pw1, g.ph0, g.ph1, g.sw, g.sh, g.dw, g.dh},
                            {"w", "b"}});
  ASSERT_NE(l, nullptr);
  bool shaped = false;
  {
    testutil::CaptureStdout quiet;  // kernel creation logs its work-group size
    shaped = l->reshape(b.env);
  }
  ASSERT_TRUE(shaped) << l->last_error;
  ASSERT_TRUE(l->run(b.env)) << l->last_error;
  const Expected e = transposed ? RefTransposed(in, c.h, c.w, c.in_c, w, bias, c.out_c, g)
                                : RefForward(in, c.h, c.w, c.in_c, w, bias, c.out_c, g, depthwise);
  if (l->placement.compare(0, 3, "cl:") == 0) {
    EXPECT_EQ(Mismatches(*l->outputs[0], e, 0, 0, 2e-3, 1e-3), 0) << l->placement;
    return;
  }
  EXPECT_EQ(Mismatches(*l->outputs[0], e, 0, 0), 0);
  const bool wide = !generic && engine::cpu_info().avx_fma;
  EXPECT_NE(l->placement.find(wide ? "_wide" : "_plain"), std::string::npos) << l->placement;
}

class Compute : public ::testing::TestWithParam<ComputeCase> {};

TEST_P(Compute, PlainPathMatchesReference) { CheckCase(GetParam(), true); }

TEST_P(Compute, WidePathMatchesReference) {
  if (!engine::cpu_info().avx_fma) GTEST_SKIP() << "this processor has no AVX+FMA";
  CheckCase(GetParam(), false);
}

// The same shapes at the OpenCL level: on the device where a kernel fits
// (half-precision tolerance), else on the CPU (float tolerance).
TEST_P(Compute, DeviceLevelMatchesReference) {
  ASSERT_NE(cltest::Device(), nullptr);
  CheckCase(GetParam(), false, cltest::Device());
}

// Geometry: kernel w, h; pads w0, w1, h0, h1; strides w, h; dilations w, h.
INSTANTIATE_TEST_SUITE_P(Conv, Compute, ::testing::Values(
    ComputeCase{"conv_c1_w1_k3", "Conv", 5, 1, 1, 4, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"conv_c2_to1_w10", "Conv", 6, 10, 2, 1, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"conv_c3_s2_w17", "Conv", 9, 17, 3, 8, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}},
    ComputeCase{"conv_c1_s2_w64", "Conv", 7, 64, 1, 12, {3, 3, 1, 0, 1, 1, 2, 2, 1, 1}},
    ComputeCase{"conv_c5_asym_pads_w10", "Conv", 8, 10, 5, 6, {3, 3, 2, 0, 0, 1, 1, 1, 1, 1}},
    ComputeCase{"conv_c6_w3", "Conv", 4, 3, 6, 5, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"conv_c8_1x1_w17", "Conv", 3, 17, 8, 17, {1, 1, 0, 0, 0, 0, 1, 1, 1, 1}},
    ComputeCase{"conv_c12_1x1_small_w10", "Conv", 3, 10, 12, 6, {1, 1, 0, 0, 0, 0, 1, 1, 1, 1}},
    ComputeCase{"conv_c17_dil2_w17", "Conv", 9, 17, 17, 8, {3, 3, 2, 2, 1, 3, 1, 1, 2, 2}},
    ComputeCase{"conv_c32_to32_w64", "Conv", 5, 64, 32, 32, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"conv_c32_dil2_s2_w64", "Conv", 10, 64, 32, 12, {3, 3, 0, 3, 2, 0, 2, 2, 2, 2}},
    ComputeCase{"conv_c12_5x3_w10_to3", "Conv", 7, 10, 12, 3, {5, 3, 2, 1, 0, 2, 1, 2, 1, 1}},
    ComputeCase{"conv_c2_to1_dil2_w3", "Conv", 6, 3, 2, 1, {3, 3, 2, 2, 2, 2, 1, 1, 2, 2}},
    ComputeCase{"conv_c6_to1_w17", "Conv", 4, 17, 6, 1, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}}));

INSTANTIATE_TEST_SUITE_P(Depthwise, Compute, ::testing::Values(
    ComputeCase{"dw_c1_w1", "DepthwiseConv", 4, 1, 1, 1, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"dw_c2_w3_s2", "DepthwiseConv", 5, 3, 2, 2, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}},
    ComputeCase{"dw_c3_w10_asym", "DepthwiseConv", 6, 10, 3, 3, {3, 3, 0, 2, 2, 0, 1, 1, 1, 1}},
    ComputeCase{"dw_c5_w17_dil2", "DepthwiseConv", 9, 17, 5, 5, {3, 3, 2, 2, 2, 2, 1, 1, 2, 2}},
    ComputeCase{"dw_c6_w64", "DepthwiseConv", 3, 64, 6, 6, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"dw_c8_w17_s2_dil2", "DepthwiseConv", 11, 17, 8, 8, {3, 3, 1, 2, 2, 1, 2, 2, 2, 2}},
    ComputeCase{"dw_c12_5x5_w10", "DepthwiseConv", 7, 10, 12, 12, {5, 5, 2, 2, 2, 2, 1, 1, 1, 1}},
    ComputeCase{"dw_c17_w3", "DepthwiseConv", 5, 3, 17, 17, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"dw_c32_w64_s2", "DepthwiseConv", 6, 64, 32, 32, {3, 3, 1, 0, 1, 0, 2, 2, 1, 1}}));

INSTANTIATE_TEST_SUITE_P(Transposed, Compute, ::testing::Values(
    ComputeCase{"deconv_c1_w1_s2", "ConvTranspose", 3, 1, 1, 2, {2, 2, 0, 0, 0, 0, 2, 2, 1, 1}},
    ComputeCase{"deconv_c2_w3_k3_s2_pad", "ConvTranspose", 4, 3, 2, 3, {3, 3, 1, 0, 1, 1, 2, 2, 1, 1}},
    ComputeCase{"deconv_c5_w10_s1", "ConvTranspose", 3, 10, 5, 6, {3, 3, 1, 1, 0, 2, 1, 1, 1, 1}},
    ComputeCase{"deconv_c8_w17_dil2", "ConvTranspose", 4, 17, 8, 5, {3, 3, 1, 2, 2, 1, 2, 2, 2, 2}},
    ComputeCase{"deconv_c12_w10_k4_s2", "ConvTranspose", 3, 10, 12, 8, {4, 4, 1, 1, 1, 1, 2, 2, 1, 1}},
    ComputeCase{"deconv_c17_w3", "ConvTranspose", 3, 3, 17, 12, {2, 2, 0, 0, 0, 0, 2, 2, 1, 1}},
    ComputeCase{"deconv_c32_w64_to1", "ConvTranspose", 2, 64, 32, 1, {2, 2, 0, 1, 1, 0, 2, 2, 1, 1}},
    ComputeCase{"deconv_c3_w64_to17", "ConvTranspose", 2, 64, 3, 17, {3, 3, 0, 0, 0, 0, 2, 1, 1, 2}},
    ComputeCase{"deconv_c6_w1_to32", "ConvTranspose", 5, 1, 6, 32, {2, 3, 0, 0, 1, 1, 1, 2, 1, 1}}));

// The kernel choice table, first matching row wins.
struct ChoiceCase {
  const char* label;
  int kw, kh, sw, sh, dw, dh, pw0, in_c, out_c;
  bool wide, generic;
  const char* kernel;
  bool folds;
};

std::ostream& operator<<(std::ostream& os, const ChoiceCase& c) { return os << c.label; }

class Choice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(Choice, KernelAndFolding) {
  const ChoiceCase& c = GetParam();
  const engine::simd::ConvChoice got = engine::simd::ChooseConvKernel(
      c.kw, c.kh, c.sw, c.sh, c.dw, c.dh, c.pw0, c.in_c, c.out_c, c.wide, c.generic);
  EXPECT_STREQ(got.kernel, c.kernel);
  EXPECT_EQ(got.folds, c.folds);
}

INSTANTIATE_TEST_SUITE_P(Table, Choice, ::testing::Values(
    ChoiceCase{"two_in_one_out_first", 3, 3, 2, 2, 1, 1, 1, 2, 1, true, false, "conv_single_out", false},
    ChoiceCase{"two_in_one_out_generic_s2", 3, 3, 2, 2, 1, 1, 1, 2, 1, false, true, "conv_single_out", false},
    ChoiceCase{"s2_c3", 3, 3, 2, 2, 1, 1, 1, 3, 8, true, false, "conv3x3_s2_c3", true},
    ChoiceCase{"s2_c1", 3, 3, 2, 2, 1, 1, 1, 1, 8, false, false, "conv3x3_s2_c1", true},
    ChoiceCase{"s2_c1_pad0_not_special", 3, 3, 2, 2, 1, 1, 0, 1, 8, true, false, "conv_block_small", true},
    ChoiceCase{"s2_c3_dilated_not_special", 3, 3, 2, 2, 2, 2, 1, 3, 8, false, false, "conv_dilated_large", true},
    ChoiceCase{"one_output", 3, 3, 1, 1, 1, 1, 1, 4, 1, true, false, "conv_single_out", false},
    ChoiceCase{"1x1_wide_16", 1, 1, 1, 1, 1, 1, 0, 8, 16, true, false, "conv1x1_large", true},
    ChoiceCase{"1x1_wide_8", 1, 1, 1, 1, 1, 1, 0, 8, 8, true, false, "conv1x1_small", true},
    ChoiceCase{"1x1_plain_8", 1, 1, 1, 1, 1, 1, 0, 8, 8, false, false, "conv1x1_large", true},
    ChoiceCase{"1x1_three_out", 1, 1, 1, 1, 1, 1, 0, 8, 3, true, false, "conv_block_small", true},
    ChoiceCase{"block_wide_32", 3, 3, 1, 1, 1, 1, 1, 8, 32, true, false, "conv_block_large", true},
    ChoiceCase{"block_wide_24", 3, 3, 1, 1, 1, 1, 1, 8, 24, true, false, "conv_block_small", true},
    ChoiceCase{"block_plain_24", 3, 3, 1, 1, 1, 1, 1, 8, 24, false, false, "conv_block_large", true},
    ChoiceCase{"block_plain_6", 3, 3, 1, 1, 1, 1, 1, 8, 6, false, false, "conv_block_small", true},
    ChoiceCase{"dilated_wide_16", 3, 3, 1, 1, 2, 2, 1, 8, 16, true, false, "conv_dilated_large", true},
    ChoiceCase{"dilated_wide_8", 3, 3, 1, 1, 1, 2, 1, 8, 8, true, false, "conv_dilated_small", true},
    ChoiceCase{"dilated_plain_8", 3, 3, 1, 1, 2, 1, 1, 8, 8, false, false, "conv_dilated_large", true},
    ChoiceCase{"dilated_six_out", 3, 3, 1, 1, 2, 2, 1, 8, 6, true, false, "conv_scalar", false},
    ChoiceCase{"dilated_one_out", 3, 3, 1, 1, 2, 2, 1, 8, 1, true, false, "conv_scalar", false}));

// Folding of an in-place activation into the convolution before it.
struct FoldCase {
  const char* label;
  const char* type;       // convolution type
  int out_c;              // 1 takes the single-output kernel, which does not fold
  const char* act_type;
  int kind;
  float alpha;
  bool fused;             // set by the convolution's run
};

std::ostream& operator<<(std::ostream& os, const FoldCase& c) { return os << c.label; }

class Fold : public ::testing::TestWithParam<FoldCase> {};

TEST_P(Fold, FusedOnlyWhenApplied) {
  const FoldCase& c = GetParam();
  for (const bool generic : {true, false}) {
    SCOPED_TRACE(generic ? "plain" : "wide");
    std::mt19937 rng(7);
    enginetest::Bench b;
    b.env.generic_cpu = generic;
    const bool depthwise = std::string(c.type) == "DepthwiseConv";
    const bool transposed = std::string(c.type) == "ConvTranspose";
    const int in_c = depthwise ? c.out_c : 4;
    engine::Tensor& x = b.Input("x", 1, 5, 6, in_c);
    const std::vector<float> in = Random(&rng, x.elements(), -1.f, 1.f);
    std::copy(in.begin(), in.end(), x.ensure_host());
    engine::Tensor& wt = transposed ? b.Weight("w", in_c, 3, 3, c.out_c)
                                    : b.Weight("w", c.out_c, 3, 3, depthwise ? 1 : in_c);
    const std::vector<float> w = Random(&rng, wt.elements(), -1.f, 1.f);
    std::copy(w.begin(), w.end(), wt.ensure_host());
    engine::Tensor& bt = b.Weight("b", 1, 1, 1, c.out_c);
    const std::vector<float> bias = Random(&rng, bt.elements(), -0.5f, 0.5f);
    std::copy(bias.begin(), bias.end(), bt.ensure_host());
    const Geometry g{3, 3, 1, 1, 1, 1, transposed ? 2 : 1, transposed ? 2 : 1, 1, 1};
    engine::Layer* conv = b.Add({c.type, {"x", "y"}, {3, 3, 1, 1, 1, 1, g.sw, g.sh, 1, 1}, {"w", "b"}}, "conv");
    engine::Layer* act = b.Add({c.act_type, {"y", "y"}, {c.kind}, {}, c.alpha}, "act");
    ASSERT_NE(conv, nullptr);
    ASSERT_NE(act, nullptr);
    ASSERT_EQ(conv->next_layers.size(), 1u);
    ASSERT_TRUE(conv->reshape(b.env)) << conv->last_error;
    ASSERT_TRUE(act->reshape(b.env)) << act->last_error;
    ASSERT_TRUE(conv->run(b.env)) << conv->last_error;
    EXPECT_EQ(act->fused, c.fused);
    ASSERT_TRUE(act->run(b.env)) << act->last_error;
    EXPECT_FALSE(act->fused);
    EXPECT_EQ(act->placement, c.fused ? "cpu:folded" : "cpu:activation");
    const Expected e = transposed ? RefTransposed(in, 5, 6, in_c, w, bias, c.out_c, g)
                                  : RefForward(in, 5, 6, in_c, w, bias, c.out_c, g, depthwise);
    EXPECT_EQ(Mismatches(*act->outputs[0], e, c.kind, c.alpha), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Activations, Fold, ::testing::Values(
    FoldCase{"relu_after_conv", "Conv", 8, "Relu", 1, 0.f, true},
    FoldCase{"capped_after_conv", "Conv", 6, "Activation", 2, 0.25f, true},
    FoldCase{"leaky_after_conv", "Conv", 5, "LeakyRelu", 6, 0.1f, true},
    FoldCase{"sigmoid_after_conv_not_fused", "Conv", 8, "Sigmoid", 5, 0.f, false},
    FoldCase{"relu_after_single_output_not_fused", "Conv", 1, "Relu", 1, 0.f, false},
    FoldCase{"leaky_after_depthwise", "DepthwiseConv", 6, "LeakyRelu", 6, 0.2f, true},
    FoldCase{"relu_after_deconv", "ConvTranspose", 3, "Relu", 1, 0.f, true},
    FoldCase{"copy_kind_not_fused", "Conv", 8, "Activation", 0, 0.f, false}));

// A byte input stands for (x - mean[k]) * scale[k].
TEST(Compute, ByteInputWithMeanAndScale) {
  for (const bool generic : {true, false}) {
    SCOPED_TRACE(generic ? "plain" : "wide");
    enginetest::Bench b;
    b.env.generic_cpu = generic;
    engine::Tensor& x = b.Input("x", 1, 7, 9, 3);
    const float mean[3] = {127.5f, 100.f, 10.f}, scale[3] = {1 / 127.5f, 0.02f, -0.5f};
    std::copy(mean, mean + 3, x.mean);
    std::copy(scale, scale + 3, x.scale);
    uint8_t* u8 = x.ensure_u8();
    std::vector<float> as_float(x.elements());
    for (size_t i = 0; i < x.elements(); ++i) {
      u8[i] = static_cast<uint8_t>((i * 37 + 11) % 256);
      as_float[i] = (u8[i] - mean[i % 3]) * scale[i % 3];
    }
    std::mt19937 rng(3);
    engine::Tensor& wt = b.Weight("w", 8, 3, 3, 3);
    const std::vector<float> w = Random(&rng, wt.elements(), -1.f, 1.f);
    std::copy(w.begin(), w.end(), wt.ensure_host());
    engine::Layer* l = b.Add({"Conv", {"x", "y"}, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, {"w"}});
    ASSERT_TRUE(l->reshape(b.env)) << l->last_error;
    ASSERT_TRUE(l->run(b.env)) << l->last_error;
    EXPECT_NE(l->placement.find("conv3x3_s2_c3"), std::string::npos) << l->placement;
    const std::vector<float> zero(8, 0.f);
    const Expected e = RefForward(as_float, 7, 9, 3, w, zero, 8, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, false);
    EXPECT_EQ(Mismatches(*l->outputs[0], e, 0, 0), 0);
  }
}

// Two inputs whose channels follow each other act as one.
TEST(Compute, TwoInputsConcatenateChannels) {
  enginetest::Bench b;
  std::mt19937 rng(5);
  engine::Tensor& x0 = b.Input("x0", 1, 4, 5, 2);
  engine::Tensor& x1 = b.Input("x1", 1, 4, 5, 3);
  const std::vector<float> a = Random(&rng, x0.elements(), -1.f, 1.f);
  const std::vector<float> c = Random(&rng, x1.elements(), -1.f, 1.f);
  std::copy(a.begin(), a.end(), x0.ensure_host());
  std::copy(c.begin(), c.end(), x1.ensure_host());
  std::vector<float> joined;
  for (int p = 0; p < 20; ++p) {
    joined.insert(joined.end(), a.begin() + p * 2, a.begin() + p * 2 + 2);
    joined.insert(joined.end(), c.begin() + p * 3, c.begin() + p * 3 + 3);
  }
  engine::Tensor& wt = b.Weight("w", 4, 3, 3, 5);
  const std::vector<float> w = Random(&rng, wt.elements(), -1.f, 1.f);
  std::copy(w.begin(), w.end(), wt.ensure_host());
  engine::Layer* l = b.Add({"Conv", {"x0", "x1", "y"}, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, {"w"}});
  ASSERT_TRUE(l->reshape(b.env)) << l->last_error;
  ASSERT_TRUE(l->run(b.env)) << l->last_error;
  const std::vector<float> zero(4, 0.f);
  const Expected e = RefForward(joined, 4, 5, 5, w, zero, 4, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, false);
  EXPECT_EQ(Mismatches(*l->outputs[0], e, 0, 0), 0);
}

TEST(Compute, InputWithoutValuesFails) {
  enginetest::Bench b;
  b.Input("x", 1, 4, 4, 2);
  engine::Tensor& wt = b.Weight("w", 4, 3, 3, 2);
  wt.ensure_host();
  engine::Layer* l = b.Add({"Conv", {"x", "y"}, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, {"w"}});
  ASSERT_TRUE(l->reshape(b.env)) << l->last_error;
  EXPECT_FALSE(l->run(b.env));
  EXPECT_EQ(l->last_error, "an input holds no values");
}

}  // namespace
