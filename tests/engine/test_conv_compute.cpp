// The CPU convolution family (Conv, DepthwiseConv, ConvTranspose) on every
// path the processor runs, against plain double-precision loops written
// here from the definition of a convolution and against the plain path;
// the path choice, activation folding, batches and 8-bit input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/core/activation.h"
#include "engine/core/conv.h"
#include "engine/simd/conv_kernels.h"
#include "tests/engine/cl_device.h"
#include "tests/engine/conv_reference.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace convref;
using engine::simd::ConvPath;

struct ComputeCase {
  const char* label;
  const char* type;  // "Conv", "DepthwiseConv", "ConvTranspose"
  int h, w, in_c, out_c;
  Geometry g;
  int act = 0;  // an in-place activation after the layer: kind 1, 2 or 6 (folded), 0 none
  float alpha = 0.f;
};

std::ostream& operator<<(std::ostream& os, const ComputeCase& c) { return os << c.label; }

// The label each path gives, after the layer type's prefix.
struct PathName {
  ConvPath path;
  const char* name;
};
constexpr PathName kVectorPaths[] = {
    {ConvPath::kWide128, "wide128"}, {ConvPath::kAvx2, "avx2"}, {ConvPath::kAvx512, "avx512"}};

const char* PlacementPrefix(const std::string& type) {
  return type == "DepthwiseConv" ? "cpu:depthwise_" : type == "ConvTranspose" ? "cpu:deconv_" : "cpu:conv_";
}

// Builds the layer with random inputs (negative ones included), weights
// and a non-zero bias, runs it on the given path (or at the OpenCL level
// with a device) and checks it against the reference.  Returns the output
// values.
std::vector<float> CheckCase(const ComputeCase& c, ConvPath path, const char* path_name,
                             opencl::clEngine* device = nullptr) {
  std::mt19937 rng(std::hash<std::string>()(c.label) & 0xFFFFFFFF);
  enginetest::Bench b;
  b.env.generic_cpu = path == ConvPath::kPlain;
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
  engine::Layer* act = c.act == 0 ? nullptr : b.Add({"Activation", {"y", "y"}, {c.act}, {}, c.alpha}, "act");
  if (l == nullptr || (c.act != 0 && act == nullptr)) {
    ADD_FAILURE() << "layer not built";
    return {};
  }
  auto* limit = dynamic_cast<engine::simd::ConvPathLimit*>(l);
  if (limit == nullptr) {
    ADD_FAILURE() << "no path limit";
    return {};
  }
  limit->widest_path = path;
  bool shaped = false;
  {
    testutil::CaptureStdout quiet;  // kernel creation logs its work-group size
    shaped = l->reshape(b.env) && (act == nullptr || act->reshape(b.env));
  }
  EXPECT_TRUE(shaped) << l->last_error;
  EXPECT_TRUE(shaped && l->run(b.env)) << l->last_error;
  EXPECT_TRUE(act == nullptr || act->run(b.env)) << act->last_error;
  if (::testing::Test::HasFailure()) return {};
  const Expected e = transposed ? RefTransposed(in, c.h, c.w, c.in_c, w, bias, c.out_c, g)
                                : RefForward(in, c.h, c.w, c.in_c, w, bias, c.out_c, g, depthwise);
  const engine::Tensor& y = *l->outputs[0];
  if (l->placement.compare(0, 3, "cl:") == 0) {
    EXPECT_EQ(Mismatches(y, e, c.act, c.alpha, 2e-3, 1e-3), 0) << l->placement;
  } else {
    EXPECT_EQ(Mismatches(y, e, c.act, c.alpha), 0) << l->placement;
    if (device == nullptr) {
      EXPECT_EQ(l->placement, std::string(PlacementPrefix(c.type)) + path_name);
    }
  }
  return std::vector<float>(y.host_data, y.host_data + y.elements());
}

class Compute : public ::testing::TestWithParam<ComputeCase> {};

TEST_P(Compute, PlainPathMatchesReference) { CheckCase(GetParam(), ConvPath::kPlain, "plain"); }

// Each vector path the processor runs: against the reference, and value
// by value against the plain path (both are float sums of the same
// products, in different orders).
TEST_P(Compute, VectorPathsMatchReferenceAndPlainPath) {
  const std::vector<float> plain = CheckCase(GetParam(), ConvPath::kPlain, "plain");
  ASSERT_FALSE(plain.empty());
  int ran = 0;
  for (const PathName& p : kVectorPaths) {
    if (!engine::simd::ConvPathRuns(p.path)) continue;
    SCOPED_TRACE(p.name);
    ++ran;
    const std::vector<float> got = CheckCase(GetParam(), p.path, p.name);
    ASSERT_EQ(got.size(), plain.size());
    int bad = 0;
    for (size_t i = 0; i < got.size(); ++i)
      if (!(std::fabs(got[i] - plain[i]) <= 1e-4 * std::max(1.f, std::fabs(plain[i]))) && ++bad <= 3)
        ADD_FAILURE() << "value " << i << ": " << got[i] << ", plain path " << plain[i];
  }
  if (ran == 0) GTEST_SKIP() << "this processor runs no vector path";
}

// The same shapes at the OpenCL level: on the device where a kernel fits
// (half-precision tolerance), else on the CPU (float tolerance).
TEST_P(Compute, DeviceLevelMatchesReference) {
  ASSERT_NE(cltest::Device(), nullptr);
  CheckCase(GetParam(), engine::simd::kWidestConvPath, "", cltest::Device());
}

// Geometry: kernel w, h; pads w0, w1, h0, h1; strides w, h; dilations w, h.
INSTANTIATE_TEST_SUITE_P(Conv, Compute, ::testing::Values(
    ComputeCase{"conv_c1_w1_k3", "Conv", 5, 1, 1, 4, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"conv_c2_to1_w10", "Conv", 6, 10, 2, 1, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"conv_c3_s2_w17", "Conv", 9, 17, 3, 8, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}},
    ComputeCase{"conv_c1_s2_w64", "Conv", 7, 64, 1, 12, {3, 3, 1, 0, 1, 1, 2, 2, 1, 1}},
    ComputeCase{"conv_c5_asym_pads_w10", "Conv", 8, 10, 5, 6, {3, 3, 2, 0, 0, 1, 1, 1, 1, 1}},
    ComputeCase{"conv_c6_w3", "Conv", 4, 3, 6, 5, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"conv_c8_1x1_w17_leaky", "Conv", 3, 17, 8, 17, {1, 1, 0, 0, 0, 0, 1, 1, 1, 1}, 6, 0.1f},
    ComputeCase{"conv_c12_1x1_small_w10", "Conv", 3, 10, 12, 6, {1, 1, 0, 0, 0, 0, 1, 1, 1, 1}},
    ComputeCase{"conv_c17_dil2_w17_relu", "Conv", 9, 17, 17, 8, {3, 3, 2, 2, 1, 3, 1, 1, 2, 2}, 1},
    ComputeCase{"conv_c32_to32_w64", "Conv", 5, 64, 32, 32, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"conv_c32_dil2_s2_w64", "Conv", 10, 64, 32, 12, {3, 3, 0, 3, 2, 0, 2, 2, 2, 2}},
    ComputeCase{"conv_c12_5x3_w10_to3_capped", "Conv", 7, 10, 12, 3, {5, 3, 2, 1, 0, 2, 1, 2, 1, 1}, 2, 0.3f},
    ComputeCase{"conv_c2_to1_dil2_w3", "Conv", 6, 3, 2, 1, {3, 3, 2, 2, 2, 2, 1, 1, 2, 2}},
    ComputeCase{"conv_c6_to1_w17", "Conv", 4, 17, 6, 1, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    // Vector-width edges: channel counts around 4, 8, 16 and 32 lanes,
    // several vectors per tile and a tile that runs across a row end.
    ComputeCase{"conv_c33_5x5_to19_w13", "Conv", 9, 13, 33, 19, {5, 5, 2, 2, 2, 2, 1, 1, 1, 1}},
    ComputeCase{"conv_c7_1x1_s2_to40_w15", "Conv", 7, 15, 7, 40, {1, 1, 0, 0, 0, 0, 2, 2, 1, 1}},
    ComputeCase{"conv_c16_to64_w9_relu", "Conv", 5, 9, 16, 64, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, 1},
    ComputeCase{"conv_c9_to50_s3_dil3_w23", "Conv", 11, 23, 9, 50, {3, 3, 3, 2, 1, 4, 3, 2, 3, 2}},
    ComputeCase{"conv_c3_to24_1x1_one_pixel", "Conv", 1, 1, 3, 24, {1, 1, 0, 0, 0, 0, 1, 1, 1, 1}},
    ComputeCase{"conv_c31_to33_5x5_pads_exceed_w2", "Conv", 3, 2, 31, 33, {5, 5, 3, 3, 2, 2, 1, 1, 1, 1}, 6, 0.01f}));

INSTANTIATE_TEST_SUITE_P(Depthwise, Compute, ::testing::Values(
    ComputeCase{"dw_c1_w1", "DepthwiseConv", 4, 1, 1, 1, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"dw_c2_w3_s2", "DepthwiseConv", 5, 3, 2, 2, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}},
    ComputeCase{"dw_c3_w10_asym", "DepthwiseConv", 6, 10, 3, 3, {3, 3, 0, 2, 2, 0, 1, 1, 1, 1}},
    ComputeCase{"dw_c5_w17_dil2", "DepthwiseConv", 9, 17, 5, 5, {3, 3, 2, 2, 2, 2, 1, 1, 2, 2}},
    ComputeCase{"dw_c6_w64", "DepthwiseConv", 3, 64, 6, 6, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"dw_c8_w17_s2_dil2", "DepthwiseConv", 11, 17, 8, 8, {3, 3, 1, 2, 2, 1, 2, 2, 2, 2}},
    ComputeCase{"dw_c12_5x5_w10", "DepthwiseConv", 7, 10, 12, 12, {5, 5, 2, 2, 2, 2, 1, 1, 1, 1}},
    ComputeCase{"dw_c17_w3", "DepthwiseConv", 5, 3, 17, 17, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}},
    ComputeCase{"dw_c32_w64_s2", "DepthwiseConv", 6, 64, 32, 32, {3, 3, 1, 0, 1, 0, 2, 2, 1, 1}},
    ComputeCase{"dw_c20_w9_relu", "DepthwiseConv", 4, 9, 20, 20, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, 1},
    ComputeCase{"dw_c37_5x5_s2_w11_leaky", "DepthwiseConv", 8, 11, 37, 37, {5, 5, 2, 2, 2, 2, 2, 2, 1, 1}, 6, 0.2f}));

INSTANTIATE_TEST_SUITE_P(Transposed, Compute, ::testing::Values(
    ComputeCase{"deconv_c1_w1_s2", "ConvTranspose", 3, 1, 1, 2, {2, 2, 0, 0, 0, 0, 2, 2, 1, 1}},
    ComputeCase{"deconv_c2_w3_k3_s2_pad", "ConvTranspose", 4, 3, 2, 3, {3, 3, 1, 0, 1, 1, 2, 2, 1, 1}},
    ComputeCase{"deconv_c5_w10_s1", "ConvTranspose", 3, 10, 5, 6, {3, 3, 1, 1, 0, 2, 1, 1, 1, 1}},
    ComputeCase{"deconv_c8_w17_dil2", "ConvTranspose", 4, 17, 8, 5, {3, 3, 1, 2, 2, 1, 2, 2, 2, 2}},
    ComputeCase{"deconv_c12_w10_k4_s2", "ConvTranspose", 3, 10, 12, 8, {4, 4, 1, 1, 1, 1, 2, 2, 1, 1}},
    ComputeCase{"deconv_c17_w3", "ConvTranspose", 3, 3, 17, 12, {2, 2, 0, 0, 0, 0, 2, 2, 1, 1}},
    ComputeCase{"deconv_c32_w64_to1", "ConvTranspose", 2, 64, 32, 1, {2, 2, 0, 1, 1, 0, 2, 2, 1, 1}},
    ComputeCase{"deconv_c3_w64_to17", "ConvTranspose", 2, 64, 3, 17, {3, 3, 0, 0, 0, 0, 2, 1, 1, 2}},
    ComputeCase{"deconv_c6_w1_to32", "ConvTranspose", 5, 1, 6, 32, {2, 3, 0, 0, 1, 1, 1, 2, 1, 1}},
    ComputeCase{"deconv_c24_to21_k3_s2_w7_capped", "ConvTranspose", 5, 7, 24, 21, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, 2, 0.4f}));

// The path a run takes: plain when the environment asks for the generic
// CPU paths, else the widest one the processor runs within the limit.
TEST(ConvPathChoice, GenericMeansPlainAndLimitHolds) {
  const ConvPath all[] = {ConvPath::kPlain, ConvPath::kWide128, ConvPath::kAvx2, ConvPath::kAvx512};
  EXPECT_TRUE(engine::simd::ConvPathRuns(ConvPath::kPlain));
  for (const ConvPath limit : all) {
    EXPECT_EQ(engine::simd::ChooseConvPath(true, limit), ConvPath::kPlain);
    const ConvPath got = engine::simd::ChooseConvPath(false, limit);
    EXPECT_LE(got, limit);
    EXPECT_TRUE(engine::simd::ConvPathRuns(got));
    for (const ConvPath wider : all)
      if (wider > got && wider <= limit) {
        EXPECT_FALSE(engine::simd::ConvPathRuns(wider));
      }
  }
}

// Folding of an in-place activation into the convolution before it.
struct FoldCase {
  const char* label;
  const char* type;       // convolution type
  int out_c;
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
    FoldCase{"relu_after_single_output", "Conv", 1, "Relu", 1, 0.f, true},
    FoldCase{"leaky_after_depthwise", "DepthwiseConv", 6, "LeakyRelu", 6, 0.2f, true},
    FoldCase{"relu_after_deconv", "ConvTranspose", 3, "Relu", 1, 0.f, true},
    FoldCase{"copy_kind_not_fused", "Conv", 8, "Activation", 0, 0.f, false}));

// A batch: each image's output equals the output of that image alone, at
// the CPU level and at the OpenCL level (whose kernels take one image: a
// batch there runs on the CPU).
struct BatchCase {
  const char* label;
  const char* type;
  std::vector<int> params;
  int h, w, c;
  const char* weight;  // weight shape, "" for none; a bias of its n (c for ConvTranspose) values
};

std::ostream& operator<<(std::ostream& os, const BatchCase& c) { return os << c.label; }

struct BatchRun {
  std::vector<float> values;
  std::string placement;
};

// Runs images [first, first + count) of a 3-image input through the layer.
BatchRun RunBatch(const BatchCase& c, int first, int count, opencl::clEngine* device) {
  constexpr int kImages = 3;
  std::mt19937 rng(11);
  const size_t image = static_cast<size_t>(c.h) * c.w * c.c;
  const std::vector<float> all = Random(&rng, image * kImages, -1.f, 1.f);
  enginetest::Bench b;
  b.env.engine = device;
  engine::Tensor& x = b.Input("x", count, c.h, c.w, c.c);
  std::copy(all.begin() + first * image, all.begin() + (first + count) * image, x.ensure_host());
  std::vector<std::string> weights;
  if (*c.weight != 0) {
    int d[4];
    enginetest::Dims(c.weight, d);
    engine::Tensor& w = b.Weight("w", d[0], d[1], d[2], d[3]);
    const std::vector<float> wv = Random(&rng, w.elements(), -1.f, 1.f);
    std::copy(wv.begin(), wv.end(), w.ensure_host());
    const int out_c = std::string(c.type) == "ConvTranspose" ? d[3] : d[0];
    engine::Tensor& bias = b.Weight("b", 1, 1, 1, out_c);
    const std::vector<float> bv = Random(&rng, bias.elements(), -0.5f, 0.5f);
    std::copy(bv.begin(), bv.end(), bias.ensure_host());
    weights = {"w", "b"};
  }
  engine::Layer* l = b.Add({c.type, {"x", "y"}, c.params, weights});
  if (l == nullptr) return {};
  bool ok = false;
  {
    testutil::CaptureStdout quiet;  // kernel creation logs its work-group size
    ok = l->reshape(b.env) && l->run(b.env);
  }
  EXPECT_TRUE(ok) << l->last_error;
  if (!ok) return {};
  EXPECT_EQ(l->outputs[0]->n, count);
  const engine::Tensor& y = *l->outputs[0];
  return {std::vector<float>(y.host_data, y.host_data + y.elements()), l->placement};
}

class Batch : public ::testing::TestWithParam<BatchCase> {};

TEST_P(Batch, EachImageAsIfAlone) {
  const BatchCase& c = GetParam();
  for (opencl::clEngine* device : {static_cast<opencl::clEngine*>(nullptr), cltest::Device()}) {
    SCOPED_TRACE(device == nullptr ? "cpu level" : "device level");
    const BatchRun batch = RunBatch(c, 0, 3, device);
    ASSERT_FALSE(batch.values.empty());
    EXPECT_EQ(batch.placement.compare(0, 4, "cpu:"), 0) << batch.placement;
    const size_t per_image = batch.values.size() / 3;
    for (int n = 0; n < 3; ++n) {
      const BatchRun alone = RunBatch(c, n, 1, nullptr);
      ASSERT_EQ(alone.values.size(), per_image);
      for (size_t i = 0; i < per_image; ++i)
        ASSERT_EQ(batch.values[n * per_image + i], alone.values[i]) << "image " << n << " value " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layers, Batch, ::testing::Values(
    BatchCase{"conv_3x3_s2", "Conv", {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, 7, 9, 5, "12x3x3x5"},
    BatchCase{"depthwise_3x3", "DepthwiseConv", {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, 5, 6, 8, "8x3x3x1"},
    BatchCase{"deconv_2x2_s2", "ConvTranspose", {2, 2, 0, 0, 0, 0, 2, 2, 1, 1}, 4, 5, 8, "8x2x2x4"},
    BatchCase{"max_pool", "MaxPool", {2, 2, 0, 0, 0, 0, 2, 2}, 6, 7, 8, ""},
    BatchCase{"average_pool", "AveragePool", {3, 3, 1, 1, 1, 1, 1, 1}, 5, 6, 4, ""},
    BatchCase{"global_average_pool", "GlobalAveragePool", {}, 5, 3, 8, ""}));

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

// Weights are packed once; a weight tensor given another buffer is packed
// again on the next run.
TEST(Compute, NewWeightBufferIsPackedAgain) {
  enginetest::Bench b;
  std::mt19937 rng(9);
  engine::Tensor& x = b.Input("x", 1, 5, 6, 4);
  const std::vector<float> in = Random(&rng, x.elements(), -1.f, 1.f);
  std::copy(in.begin(), in.end(), x.ensure_host());
  engine::Tensor& wt = b.Weight("w", 8, 3, 3, 4);
  const std::vector<float> w1 = Random(&rng, wt.elements(), -1.f, 1.f);
  std::copy(w1.begin(), w1.end(), wt.ensure_host());
  engine::Tensor& other = b.Weight("w2", 8, 3, 3, 4);
  const std::vector<float> w2 = Random(&rng, other.elements(), -1.f, 1.f);
  std::copy(w2.begin(), w2.end(), other.ensure_host());
  engine::Layer* l = b.Add({"Conv", {"x", "y"}, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, {"w"}});
  ASSERT_TRUE(l->reshape(b.env)) << l->last_error;
  const std::vector<float> zero(8, 0.f);
  const Geometry g{3, 3, 1, 1, 1, 1, 1, 1, 1, 1};
  ASSERT_TRUE(l->run(b.env)) << l->last_error;
  EXPECT_EQ(Mismatches(*l->outputs[0], RefForward(in, 5, 6, 4, w1, zero, 8, g, false), 0, 0), 0);
  wt.borrow_host(other);
  ASSERT_TRUE(l->run(b.env)) << l->last_error;
  EXPECT_EQ(Mismatches(*l->outputs[0], RefForward(in, 5, 6, 4, w2, zero, 8, g, false), 0, 0), 0);
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
