// The CPU computation of every layer type outside the convolution family,
// against plain double-precision loops written here from each type's
// definition, on random shapes with channel counts that are no multiple
// of 4 and one-pixel extents, on the plain and (where the processor has
// it) the wide path; plus known answers and faulty uses.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/cpu_info.h"
#include "tests/engine/engine_test_util.h"

namespace {

using enginetest::Bench;

constexpr double kTol = 2e-5;  // relative to max(1, |expected|)

struct D {
  int n, h, w, c;
  size_t size() const { return static_cast<size_t>(n) * h * w * c; }
  size_t at(int b, int y, int x, int k) const {
    return ((static_cast<size_t>(b) * h + y) * w + x) * c + k;
  }
};

D Parse(const char* s) {
  D d{};
  std::sscanf(s, "%dx%dx%dx%d", &d.n, &d.h, &d.w, &d.c);
  return d;
}

// A tensor of shape d with random values in [lo, hi).
std::vector<float> Fill(engine::Tensor& t, const D& d, std::mt19937* rng, float lo = -2.f,
                        float hi = 2.f) {
  t.set_shape(d.n, d.h, d.w, d.c);
  std::uniform_real_distribution<float> u(lo, hi);
  std::vector<float> v(d.size());
  float* p = t.ensure_host();
  for (size_t i = 0; i < v.size(); ++i) p[i] = v[i] = u(*rng);
  return v;
}

void Set(engine::Tensor& t, const D& d, const std::vector<float>& v) {
  t.set_shape(d.n, d.h, d.w, d.c);
  std::copy(v.begin(), v.end(), t.ensure_host());
}

// Output against expected values: shape and every value within tolerance.
void Expect(const engine::Tensor& t, const D& d, const std::vector<double>& want) {
  ASSERT_EQ(enginetest::ShapeOf(t), std::to_string(d.n) + "x" + std::to_string(d.h) + "x" +
                                        std::to_string(d.w) + "x" + std::to_string(d.c));
  ASSERT_NE(t.host_data, nullptr);
  int bad = 0;
  for (size_t i = 0; i < want.size(); ++i)
    if (!(std::fabs(t.host_data[i] - want[i]) <= kTol * std::max(1.0, std::fabs(want[i]))) &&
        ++bad <= 3)
      ADD_FAILURE() << "value " << i << ": got " << t.host_data[i] << ", want " << want[i];
}

// Runs body on the plain path and, where the processor has AVX+FMA, on the
// wide one; body gets generic_cpu and the placement suffix to expect.
void BothPaths(const std::function<void(bool, const char*)>& body) {
  {
    SCOPED_TRACE("plain");
    body(true, "_plain");
  }
  if (engine::cpu_info().avx_fma) {
    SCOPED_TRACE("wide");
    body(false, "_wide");
  }
}

double Act(double x, int kind, double alpha) {
  switch (kind) {
    case 1: return std::max(x, 0.0);
    case 2: return std::max(std::min(x, alpha), 0.0);
    case 4: return std::tanh(x);
    case 5: return 1 / (1 + std::exp(-x));
    case 6: return x < 0 ? x * alpha : x;
    default: return x;
  }
}

// ---- BinaryOp ---------------------------------------------------------

struct BinCase {
  const char* label;
  const char* type;
  int op;       // params 0
  int want_op;  // what it must compute: 0 add, 1 subtract, 2 multiply
  const char* a;
  const char* b;
};
std::ostream& operator<<(std::ostream& os, const BinCase& c) { return os << c.label; }
class Binary : public ::testing::TestWithParam<BinCase> {};

// out[n][y][x][k] = a op b, each read at the coordinate clamped to its own
// extents; a one-channel operand gives its value to every channel.
std::vector<double> RefBinary(const std::vector<float>& a, const D& da, const std::vector<float>& b,
                              const D& db, int op, int act, float alpha, D* out) {
  *out = {da.n, std::max(da.h, db.h), std::max(da.w, db.w), std::max(da.c, db.c)};
  std::vector<double> r(out->size());
  auto read = [](const std::vector<float>& v, const D& d, int n, int y, int x, int k) {
    return static_cast<double>(v[d.at(std::min(n, d.n - 1), std::min(y, d.h - 1),
                                      std::min(x, d.w - 1), d.c == 1 ? 0 : k)]);
  };
  for (int n = 0; n < out->n; ++n)
    for (int y = 0; y < out->h; ++y)
      for (int x = 0; x < out->w; ++x)
        for (int k = 0; k < out->c; ++k) {
          const double p = read(a, da, n, y, x, k), q = read(b, db, n, y, x, k);
          r[out->at(n, y, x, k)] = Act(op == 0 ? p + q : op == 1 ? p - q : p * q, act, alpha);
        }
  return r;
}

TEST_P(Binary, MatchesDefinition) {
  const BinCase& c = GetParam();
  BothPaths([&](bool generic, const char* suffix) {
    std::mt19937 rng(3);
    Bench b;
    b.env.generic_cpu = generic;
    const D da = Parse(c.a), db = Parse(c.b);
    const std::vector<float> a = Fill(b.tensors["a"], da, &rng);
    const std::vector<float> v = Fill(b.tensors["b"], db, &rng);
    engine::Layer* l = b.Add({c.type, {"a", "b", "y"}, {c.op}});
    ASSERT_TRUE(l->reshape(b.env)) << l->last_error;
    ASSERT_TRUE(l->run(b.env)) << l->last_error;
    D dout{};
    const std::vector<double> want = RefBinary(a, da, v, db, c.want_op, 0, 0, &dout);
    Expect(*l->outputs[0], dout, want);
    EXPECT_NE(l->placement.find(suffix), std::string::npos) << l->placement;
  });
}

INSTANTIATE_TEST_SUITE_P(Shapes, Binary, ::testing::Values(
    BinCase{"add_equal_c5", "Add", 0, 0, "1x3x7x5", "1x3x7x5"},
    BinCase{"sub_one_pixel", "BinaryOp", 1, 1, "1x1x1x3", "1x1x1x3"},
    BinCase{"mul_type_with_op0_multiplies", "Mul", 0, 2, "1x4x6x7", "1x4x6x7"},
    BinCase{"pixel_vector_1x1x1xc", "Add", 0, 0, "1x5x3x6", "1x1x1x6"},
    BinCase{"pixel_vector_first", "BinaryOp", 1, 1, "1x1x1x9", "1x4x4x9"},
    BinCase{"one_channel", "Mul", 2, 2, "1x3x5x6", "1x3x5x1"},
    BinCase{"row_times_column", "BinaryOp", 2, 2, "1x1x5x7", "1x4x1x7"},
    BinCase{"batch_repeats_second", "Add", 0, 0, "2x3x3x5", "1x3x3x5"},
    BinCase{"single_values", "BinaryOp", 0, 0, "1x1x1x1", "1x3x2x1"}));

struct FoldCase {
  const char* act_type;
  int kind;
  float alpha;
  bool fused;
};
std::ostream& operator<<(std::ostream& os, const FoldCase& c) { return os << c.act_type << c.kind; }
class BinaryFold : public ::testing::TestWithParam<FoldCase> {};

// A following in-place activation of kind 1, 2 or 6 is applied in the
// store and then returns at once; others run on their own.
TEST_P(BinaryFold, AppliedInTheStore) {
  const FoldCase& c = GetParam();
  for (const char* second : {"1x4x5x6", "1x1x1x6"}) {
    BothPaths([&](bool generic, const char*) {
      std::mt19937 rng(9);
      Bench b;
      b.env.generic_cpu = generic;
      const D da{1, 4, 5, 6}, db = Parse(second);
      const std::vector<float> a = Fill(b.tensors["a"], da, &rng);
      const std::vector<float> v = Fill(b.tensors["b"], db, &rng);
      engine::Layer* l = b.Add({"Add", {"a", "b", "y"}}, "add");
      engine::Layer* act = b.Add({c.act_type, {"y", "y"}, {c.kind}, {}, c.alpha}, "act");
      ASSERT_TRUE(l->reshape(b.env) && act->reshape(b.env));
      ASSERT_TRUE(l->run(b.env)) << l->last_error;
      EXPECT_EQ(act->fused, c.fused);
      ASSERT_TRUE(act->run(b.env)) << act->last_error;
      EXPECT_FALSE(act->fused);
      D dout{};
      const std::vector<double> want = RefBinary(a, da, v, db, 0, c.kind, c.alpha, &dout);
      Expect(*act->outputs[0], dout, want);
    });
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, BinaryFold, ::testing::Values(
    FoldCase{"Relu", 1, 0.f, true}, FoldCase{"Activation", 2, 0.5f, true},
    FoldCase{"LeakyRelu", 6, 0.2f, true}, FoldCase{"Sigmoid", 5, 0.f, false},
    FoldCase{"Activation", 4, 0.f, false}));

// ---- Pooling ------------------------------------------------------------

struct PoolCase {
  const char* label;
  const char* type;
  const char* shape;
  std::vector<int> params;  // kernel w, h; pads w0, w1, h0, h1; strides; dilations
};
std::ostream& operator<<(std::ostream& os, const PoolCase& c) { return os << c.label; }
class Pool : public ::testing::TestWithParam<PoolCase> {};

TEST_P(Pool, MatchesDefinition) {
  const PoolCase& c = GetParam();
  BothPaths([&](bool generic, const char* suffix) {
    std::mt19937 rng(5);
    Bench b;
    b.env.generic_cpu = generic;
    const D di = Parse(c.shape);
    const std::vector<float> x = Fill(b.tensors["x"], di, &rng);
    engine::Layer* l = b.Add({c.type, {"x", "y"}, c.params});
    ASSERT_TRUE(l->reshape(b.env)) << l->last_error;
    ASSERT_TRUE(l->run(b.env)) << l->last_error;
    const bool global = std::string(c.type) == "GlobalAveragePool";
    const bool avg = global || std::string(c.type) == "AveragePool";
    std::vector<int> p = c.params;
    p.resize(10, 0);
    if (global) p = {di.w, di.h, 0, 0, 0, 0, 1, 1, 1, 1};
    const int kw = p[0], kh = p[1], sw = p[6], sh = p[7];
    const int dw = std::max(p[8], 1), dh = std::max(p[9], 1);
    const D dout{1, (di.h + p[4] + p[5] - (kh - 1) * dh - 1) / sh + 1,
                 (di.w + p[2] + p[3] - (kw - 1) * dw - 1) / sw + 1, di.c};
    std::vector<double> want(dout.size());
    for (int y = 0; y < dout.h; ++y)
      for (int xo = 0; xo < dout.w; ++xo)
        for (int k = 0; k < di.c; ++k) {
          double acc = avg ? 0 : -DBL_MAX;
          int taps = 0;
          for (int i = 0; i < kh; ++i)
            for (int j = 0; j < kw; ++j) {
              const int iy = y * sh + i * dh - p[4], ix = xo * sw + j * dw - p[2];
              if (iy < 0 || iy >= di.h || ix < 0 || ix >= di.w) continue;
              const double v = x[di.at(0, iy, ix, k)];
              acc = avg ? acc + v : std::max(acc, v);
              ++taps;
            }
          want[dout.at(0, y, xo, k)] = taps == 0 ? 0 : avg ? acc / taps : acc;
        }
    Expect(*l->outputs[0], dout, want);
    EXPECT_NE(l->placement.find(suffix), std::string::npos) << l->placement;
  });
}

INSTANTIATE_TEST_SUITE_P(Windows, Pool, ::testing::Values(
    PoolCase{"max_2x2_s2_c5", "MaxPool", "1x6x7x5", {2, 2, 0, 0, 0, 0, 2, 2}},
    PoolCase{"max_3x3_s2_pad1_w1", "MaxPool", "1x7x1x6", {3, 3, 1, 1, 1, 1, 2, 2}},
    PoolCase{"max_pad_reaches_kernel", "MaxPool", "1x3x3x2", {2, 2, 2, 0, 2, 0, 1, 1}},
    PoolCase{"avg_3x3_pad1_c3", "AveragePool", "1x5x6x3", {3, 3, 1, 1, 1, 1, 1, 1}},
    PoolCase{"avg_asym_dilated_c9", "AveragePool", "1x7x8x9", {3, 2, 0, 2, 1, 0, 2, 1, 2, 2}},
    PoolCase{"avg_one_pixel", "AveragePool", "1x1x1x4", {3, 3, 1, 1, 1, 1, 1, 1}},
    PoolCase{"global_c7", "GlobalAveragePool", "1x5x3x7", {}},
    PoolCase{"global_one_pixel", "GlobalAveragePool", "1x1x1x13", {}}));

TEST(PoolKnown, AverageDividesByTapsInside) {
  // 3x3 ramp 1..9, 3x3 window, pad 1, stride 2: each window sees a 2x2
  // corner of the input.
  Bench b;
  Set(b.tensors["x"], {1, 3, 3, 1}, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  engine::Layer* l = b.Add({"AveragePool", {"x", "y"}, {3, 3, 1, 1, 1, 1, 2, 2}});
  ASSERT_TRUE(l->reshape(b.env) && l->run(b.env)) << l->last_error;
  Expect(*l->outputs[0], {1, 2, 2, 1}, {3, 4, 6, 7});
}

TEST(PoolKnown, MaxBelowMinus100000AndWindowsWhollyInPadding) {
  Bench b;
  Set(b.tensors["x"], {1, 1, 1, 2}, {-2.5e5f, -7.f});
  engine::Layer* l = b.Add({"MaxPool", {"x", "y"}, {2, 2, 2, 0, 2, 0, 1, 1}});
  ASSERT_TRUE(l->reshape(b.env) && l->run(b.env)) << l->last_error;
  Expect(*l->outputs[0], {1, 2, 2, 2}, {0, 0, 0, 0, 0, 0, -2.5e5, -7});
}

// ---- Gemm -------------------------------------------------------------

struct GemmCase {
  int k, n;
  bool trans_b, bias;
  float alpha, beta;
  const char* input;  // shape holding k values
};
std::ostream& operator<<(std::ostream& os, const GemmCase& c) {
  return os << "k" << c.k << "_n" << c.n << (c.trans_b ? "_tb" : "") << (c.bias ? "_bias" : "");
}
class Gemm : public ::testing::TestWithParam<GemmCase> {};

TEST_P(Gemm, MatchesDefinition) {
  const GemmCase& c = GetParam();
  BothPaths([&](bool generic, const char* suffix) {
    std::mt19937 rng(c.k * 31 + c.n);
    Bench b;
    b.env.generic_cpu = generic;
    const std::vector<float> x = Fill(b.tensors["x"], Parse(c.input), &rng);
    const std::vector<float> w =
        Fill(b.weights["w"], c.trans_b ? D{c.k, 1, 1, c.n} : D{c.n, 1, 1, c.k}, &rng);
    const std::vector<float> bias = Fill(b.weights["b"], {1, 1, 1, c.n}, &rng);
    std::vector<std::string> weights{"w"};
    if (c.bias) weights.push_back("b");
    engine::Layer* l = b.Add({"Gemm", {"x", "y"}, {0, c.trans_b ? 1 : 0}, weights, c.alpha, c.beta});
    ASSERT_TRUE(l->reshape(b.env)) << l->last_error;
    ASSERT_TRUE(l->run(b.env)) << l->last_error;
    std::vector<double> want(c.n);
    for (int i = 0; i < c.n; ++i) {
      double s = 0;
      for (int k = 0; k < c.k; ++k)
        s += static_cast<double>(c.trans_b ? w[k * c.n + i] : w[i * c.k + k]) * x[k];
      want[i] = c.alpha * s + (c.bias ? c.beta * bias[i] : 0.0);
    }
    Expect(*l->outputs[0], {1, 1, 1, c.n}, want);
    EXPECT_NE(l->placement.find(suffix), std::string::npos) << l->placement;
  });
}

INSTANTIATE_TEST_SUITE_P(Sizes, Gemm, ::testing::Values(
    GemmCase{1, 1, false, true, 1, 1, "1x1x1x1"}, GemmCase{3, 5, false, true, 1, 1, "1x1x1x3"},
    GemmCase{7, 10, true, true, 0.5f, 2, "1x1x1x7"}, GemmCase{16, 4, false, false, 1, 1, "1x16x1x1"},
    GemmCase{33, 9, true, false, -1.5f, 1, "1x1x1x33"}, GemmCase{64, 13, false, true, 1, 0, "1x1x1x64"}));

TEST(GemmKnown, AlphaAndBeta) {
  // W = [[1, 2, 3], [4, 5, 6]], x = (1, 1, 2), bias (10, 20), alpha 2,
  // beta 0.5: W x = (9, 21) -> (23, 52); the same with W stored transposed.
  for (const bool trans_b : {false, true}) {
    Bench b;
    Set(b.tensors["x"], {1, 1, 1, 3}, {1, 1, 2});
    if (trans_b) Set(b.weights["w"], {3, 1, 1, 2}, {1, 4, 2, 5, 3, 6});
    else Set(b.weights["w"], {2, 1, 1, 3}, {1, 2, 3, 4, 5, 6});
    Set(b.weights["b"], {1, 1, 1, 2}, {10, 20});
    engine::Layer* l = b.Add({"Gemm", {"x", "y"}, {0, trans_b}, {"w", "b"}, 2.f, 0.5f});
    ASSERT_TRUE(l->reshape(b.env) && l->run(b.env)) << l->last_error;
    Expect(*l->outputs[0], {1, 1, 1, 2}, {23, 52});
  }
}

TEST(GemmKnown, FactorsNeverSetGiveThePlainProduct) {
  // A description built through the engine API that never sets alpha and
  // beta: W x + bias, (9 + 10, 21 + 20), as with both factors 1.
  Bench b;
  Set(b.tensors["x"], {1, 1, 1, 3}, {1, 1, 2});
  Set(b.weights["w"], {2, 1, 1, 3}, {1, 2, 3, 4, 5, 6});
  Set(b.weights["b"], {1, 1, 1, 2}, {10, 20});
  engine::LayerDesc d;
  d.name = "fc";
  d.type = "Gemm";
  d.tensors[0] = "x";
  d.tensors[1] = "y";
  d.weights[0] = "w";
  d.weights[1] = "b";
  std::unique_ptr<engine::Layer> l(
      engine::find_layer(engine::kBackendDefault, "Gemm")(d, b.tensors, b.weights));
  ASSERT_TRUE(l->reshape(b.env) && l->run(b.env)) << l->last_error;
  Expect(*l->outputs[0], {1, 1, 1, 2}, {19, 41});
}

// ---- BatchNormalization -------------------------------------------------

TEST(Batchnorm, HandComputedAndDefaultEpsilon) {
  // scale (2, 1), bias (1, 0), mean (1, -1), variance (3, 3), epsilon 1:
  // factors (1, 0.5), offsets (0, 0.5); pixel (3, 4) -> (3, 2.5).  With
  // alpha 0 epsilon is 1e-5: variance 4 gives 2 / sqrt(4.00001).
  for (const float alpha : {1.f, 0.f}) {
    Bench b;
    Set(b.tensors["x"], {1, 1, 1, 2}, {3, 4});
    Set(b.weights["s"], {1, 1, 1, 2}, {2, 1});
    Set(b.weights["b"], {1, 1, 1, 2}, {1, 0});
    Set(b.weights["m"], {1, 1, 1, 2}, {1, -1});
    Set(b.weights["v"], {1, 1, 1, 2}, {alpha > 0 ? 3.f : 4.f, 3});
    engine::Layer* l = b.Add({"BatchNormalization", {"x", "y"}, {}, {"s", "b", "m", "v"}, alpha});
    ASSERT_TRUE(l->reshape(b.env) && l->run(b.env)) << l->last_error;
    if (alpha > 0) Expect(*l->outputs[0], {1, 1, 1, 2}, {3, 2.5});
    else Expect(*l->outputs[0], {1, 1, 1, 2}, {1 + 2 * 2 / std::sqrt(4.00001), 5 / std::sqrt(3.00001)});
  }
}

// ---- channel and copy layers ---------------------------------------------

// Input i holds values 100 * i + channel in every pixel.
void ChannelIndex(Bench* b, const char* name, int i, const D& d) {
  std::vector<float> v(d.size());
  for (size_t k = 0; k < v.size(); ++k) v[k] = static_cast<float>(100 * i + k % d.c);
  Set(b->tensors[name], d, v);
}

std::vector<double> PixelOf(const engine::Tensor& t, size_t pixel) {
  return std::vector<double>(t.host_data + pixel * t.c, t.host_data + (pixel + 1) * t.c);
}

struct ChannelCase {
  const char* label;
  const char* type;
  std::vector<const char*> inputs;  // shapes
  int outputs;
  std::vector<int> params;
  std::vector<std::vector<double>> pixel;  // every pixel of each output
};
std::ostream& operator<<(std::ostream& os, const ChannelCase& c) { return os << c.label; }
class Channels : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(Channels, EveryPixel) {
  const ChannelCase& c = GetParam();
  Bench b;
  enginetest::Recipe r{c.type, {}, c.params};
  for (size_t i = 0; i < c.inputs.size(); ++i) {
    r.tensors.push_back("in" + std::to_string(i));
    ChannelIndex(&b, r.tensors.back().c_str(), static_cast<int>(i), Parse(c.inputs[i]));
  }
  for (int o = 0; o < c.outputs; ++o) r.tensors.push_back("out" + std::to_string(o));
  engine::Layer* l = b.Add(r);
  ASSERT_TRUE(l->reshape(b.env)) << l->last_error;
  ASSERT_TRUE(l->run(b.env)) << l->last_error;
  ASSERT_EQ(l->outputs.size(), c.pixel.size());
  for (size_t o = 0; o < c.pixel.size(); ++o) {
    const engine::Tensor& t = *l->outputs[o];
    ASSERT_NE(t.host_data, nullptr);
    for (size_t p = 0; p < t.elements() / t.c; ++p) ASSERT_EQ(PixelOf(t, p), c.pixel[o]) << o;
  }
}

INSTANTIATE_TEST_SUITE_P(Known, Channels, ::testing::Values(
    ChannelCase{"shuffle_g2_c6", "Shuffle", {"1x2x3x6"}, 1, {2}, {{0, 3, 1, 4, 2, 5}}},
    ChannelCase{"shuffle_g3_c6", "Shuffle", {"1x1x1x6"}, 1, {3}, {{0, 2, 4, 1, 3, 5}}},
    ChannelCase{"shuffle_g5_c5_is_identity", "Shuffle", {"1x2x1x5"}, 1, {5}, {{0, 1, 2, 3, 4}}},
    ChannelCase{"shufflesplit2_2_to_2", "ShuffleSplit2", {"1x2x2x4", "1x2x2x4"}, 2, {2},
                {{0, 100, 1, 101}, {2, 102, 3, 103}}},
    ChannelCase{"shufflesplit2_2_to_1", "ShuffleSplit2", {"1x1x3x3", "1x1x3x3"}, 1, {2},
                {{0, 100, 1, 101, 2, 102}}},
    ChannelCase{"shufflesplit2_1_to_1", "ShuffleSplit2", {"1x3x1x6"}, 1, {3}, {{0, 2, 4, 1, 3, 5}}},
    ChannelCase{"concat2_c3_c5", "Concat", {"1x2x3x3", "1x2x3x5"}, 1, {},
                {{0, 1, 2, 100, 101, 102, 103, 104}}},
    ChannelCase{"concat4_one_pixel", "Concat", {"1x1x1x1", "1x1x1x2", "1x1x1x1", "1x1x1x3"}, 1, {},
                {{0, 100, 101, 200, 300, 301, 302}}},
    ChannelCase{"split3_c9", "Split", {"1x2x2x9"}, 3, {}, {{0, 1, 2}, {3, 4, 5}, {6, 7, 8}}},
    ChannelCase{"slice_channels_step2", "Slice", {"1x3x2x7"}, 1, {-1, 0, 0, -1, 0, 0, 1, 7, 2},
                {{1, 3, 5}}},
    ChannelCase{"normalize_fill", "Normalize", {"1x2x2x3"}, 1, {4}, {{0, 1, 2, 0}}}));

TEST(Softmax, ThreeEqualValuesGiveAThirdEach) {
  Bench b;
  Set(b.tensors["x"], {1, 1, 2, 3}, {5, 5, 5, -1e4f, -1e4f, -1e4f});
  engine::Layer* l = b.Add({"Softmax", {"x", "y"}});
  ASSERT_TRUE(l->reshape(b.env) && l->run(b.env)) << l->last_error;
  Expect(*l->outputs[0], {1, 1, 2, 3}, std::vector<double>(6, 1.0 / 3));
}

TEST(Slice, RangesAndStepsOnAllAxes) {
  std::mt19937 rng(2);
  Bench b;
  const D di{2, 7, 6, 5};
  const std::vector<float> x = Fill(b.tensors["x"], di, &rng);
  // h 1..6 step 2, w 0..end step 4, c 1..5 step 3 (an end past the extent stops at it).
  engine::Layer* l = b.Add({"Slice", {"x", "y"}, {1, 6, 2, 0, 9, 4, 1, 5, 3}});
  ASSERT_TRUE(l->reshape(b.env) && l->run(b.env)) << l->last_error;
  const D dout{2, 3, 2, 2};
  std::vector<double> want;
  for (int n = 0; n < 2; ++n)
    for (int y = 1; y < 6; y += 2)
      for (int xx = 0; xx < 6; xx += 4)
        for (int k = 1; k < 5; k += 3) want.push_back(x[di.at(n, y, xx, k)]);
  Expect(*l->outputs[0], dout, want);
}

TEST(Pad, InputAtTheLeadingPadsZerosAround) {
  std::mt19937 rng(4);
  Bench b;
  const D di{2, 2, 3, 5};
  const std::vector<float> x = Fill(b.tensors["x"], di, &rng);
  engine::Layer* l = b.Add({"Pad", {"x", "y"}, {1, 2, 0, 3}});  // w0, w1, h0, h1
  ASSERT_TRUE(l->reshape(b.env) && l->run(b.env)) << l->last_error;
  const D dout{2, 5, 6, 5};
  std::vector<double> want(dout.size(), 0.0);
  for (int n = 0; n < 2; ++n)
    for (int y = 0; y < 2; ++y)
      for (int xx = 0; xx < 3; ++xx)
        for (int k = 0; k < 5; ++k) want[dout.at(n, y, xx + 1, k)] = x[di.at(n, y, xx, k)];
  Expect(*l->outputs[0], dout, want);
}

TEST(Normalize, BytesWithMeanAndScale) {
  Bench b;
  engine::Tensor& t = b.tensors["x"];
  t.set_shape(1, 1, 2, 3);
  const uint8_t bytes[6] = {0, 128, 255, 10, 20, 30};
  std::copy(bytes, bytes + 6, t.ensure_u8());
  const float mean[3] = {127.5f, 0.f, 255.f}, scale[3] = {0.5f, 2.f, -1.f};
  std::copy(mean, mean + 3, t.mean);
  std::copy(scale, scale + 3, t.scale);
  engine::Layer* l = b.Add({"Normalize", {"x", "y"}, {4}, {}, 9.f});
  ASSERT_TRUE(l->reshape(b.env) && l->run(b.env)) << l->last_error;
  Expect(*l->outputs[0], {1, 1, 2, 4}, {-63.75, 256, 0, 9, -58.75, 40, 225, 9});
}

TEST(Relabel, ReshapeAndSqueezeShareTheInputValues) {
  for (const char* type : {"Reshape", "Squeeze"}) {
    SCOPED_TRACE(type);
    std::mt19937 rng(6);
    Bench b;
    Fill(b.tensors["x"], {1, 2, 3, 4}, &rng);
    engine::Layer* l = b.Add({type, {"x", "y"}, {1, 1, 1, -1}});
    ASSERT_TRUE(l->reshape(b.env) && l->run(b.env)) << l->last_error;
    EXPECT_EQ(l->outputs[0]->host_data, b.tensors["x"].host_data);
    EXPECT_TRUE(l->outputs[0]->borrowed);
    EXPECT_EQ(enginetest::ShapeOf(*l->outputs[0]), std::string(type) == "Reshape" ? "1x1x1x24" : "1x2x3x4");
  }
}

// ---- Resize -------------------------------------------------------------

// Channel k of the input is the ramp 10 y + x + 100 k.  Both samplings are
// separable and exact on it, so output (oy, ox, k) is 10 Y[oy] + X[ox] +
// 100 k with the one-axis answers of each row.
struct ResizeCase {
  const char* label;
  int mode, align, in_h, in_w;
  float scale_w, scale_h;
  std::vector<double> want_y, want_x;
};
std::ostream& operator<<(std::ostream& os, const ResizeCase& c) { return os << c.label; }
class Resize : public ::testing::TestWithParam<ResizeCase> {};

TEST_P(Resize, Ramp) {
  const ResizeCase& c = GetParam();
  Bench b;
  const D di{1, c.in_h, c.in_w, 3};
  std::vector<float> ramp(di.size());
  for (int y = 0; y < di.h; ++y)
    for (int x = 0; x < di.w; ++x)
      for (int k = 0; k < 3; ++k) ramp[di.at(0, y, x, k)] = 10.f * y + x + 100.f * k;
  Set(b.tensors["x"], di, ramp);
  engine::Layer* l = b.Add({"Upsample", {"x", "y"}, {c.mode, c.align}, {}, c.scale_w, c.scale_h});
  ASSERT_TRUE(l->reshape(b.env) && l->run(b.env)) << l->last_error;
  const D dout{1, static_cast<int>(c.want_y.size()), static_cast<int>(c.want_x.size()), 3};
  std::vector<double> want(dout.size());
  for (int y = 0; y < dout.h; ++y)
    for (int x = 0; x < dout.w; ++x)
      for (int k = 0; k < 3; ++k) want[dout.at(0, y, x, k)] = 10 * c.want_y[y] + c.want_x[x] + 100 * k;
  Expect(*l->outputs[0], dout, want);
}

INSTANTIATE_TEST_SUITE_P(Modes, Resize, ::testing::Values(
    // align_corners: scale (in - 1) / (out - 1), the ends meet the ends.
    ResizeCase{"bilinear_align", 1, 1, 2, 3, 5.f / 3, 1.5f, {0, 0.5, 1}, {0, 0.5, 1, 1.5, 2}},
    // nearest with align_corners rounds, halves away from zero.
    ResizeCase{"nearest_align", 0, 1, 2, 3, 5.f / 3, 1.5f, {0, 1, 1}, {0, 1, 1, 2, 2}},
    // scale in / out, the right and lower neighbours clamped.
    ResizeCase{"bilinear", 1, 0, 3, 2, 2, 2, {0, 0.5, 1, 1.5, 2, 2}, {0, 0.5, 1, 1}},
    // nearest without align_corners floors.
    ResizeCase{"nearest_down", 0, 0, 5, 4, 0.5f, 0.4f, {0, 2}, {0, 2}},
    ResizeCase{"nearest_up_4_thirds", 0, 0, 3, 1, 3, 4.f / 3, {0, 0, 1, 2}, {0, 0, 0}},
    // One output: scale in / out even with align_corners; one input pixel.
    ResizeCase{"align_to_and_from_one", 1, 1, 1, 4, 0.25f, 3, {0, 0, 0}, {0}}));

// ---- faulty uses --------------------------------------------------------

struct FaultCase {
  const char* label;
  enginetest::Recipe recipe;
  std::vector<const char*> weight_shapes;  // created without values
  bool reshape_ok;                         // else reshape fails with `error`
  const char* error;
};
std::ostream& operator<<(std::ostream& os, const FaultCase& c) { return os << c.label; }
class Fault : public ::testing::TestWithParam<FaultCase> {};

// Inputs "a", "b" (1x4x4x6) and "v" (1x1x1x6) hold no values; weights w0.. have shapes
// but no values.
TEST_P(Fault, FalseWithReason) {
  const FaultCase& c = GetParam();
  Bench b;
  b.Input("a", 1, 4, 4, 6);
  b.Input("b", 1, 4, 4, 6);
  b.Input("v", 1, 1, 1, 6);
  for (size_t i = 0; i < c.weight_shapes.size(); ++i) {
    const D d = Parse(c.weight_shapes[i]);
    b.Weight("w" + std::to_string(i), d.n, d.h, d.w, d.c);
  }
  engine::Layer* l = b.Add(c.recipe);
  ASSERT_NE(l, nullptr);
  const bool ok = l->reshape(b.env);
  ASSERT_EQ(ok, c.reshape_ok) << l->last_error;
  if (ok) {
    EXPECT_FALSE(l->run(b.env));
  }
  EXPECT_EQ(l->last_error, c.error);
}

INSTANTIATE_TEST_SUITE_P(Uses, Fault, ::testing::Values(
    FaultCase{"add_without_values", {"Add", {"a", "b", "y"}}, {}, true, "an input holds no values"},
    FaultCase{"pool_without_values", {"MaxPool", {"a", "y"}, {2, 2, 0, 0, 0, 0, 2, 2}}, {}, true, "an input holds no values"},
    FaultCase{"concat_without_values", {"Concat", {"a", "b", "y"}}, {}, true, "an input holds no values"},
    FaultCase{"reshape_without_values", {"Reshape", {"a", "y"}, {1, 1, 1, -1}}, {}, true, "the input holds no float values"},
    FaultCase{"gemm_weight_without_values", {"Gemm", {"v", "y"}, {0, 0}, {"w0"}, 1, 1}, {"3x1x1x6"}, true, "the weight holds no values"},
    FaultCase{"batchnorm_weights_without_values", {"BatchNormalization", {"a", "y"}, {}, {"w0", "w1", "w2", "w3"}}, {"1x1x1x6", "1x1x1x6", "1x1x1x6", "1x1x1x6"}, true, "the weight holds no values"},
    FaultCase{"pad_in_place", {"Pad", {"a", "a"}, {1, 1, 1, 1}}, {}, false, "an input is also an output"},
    FaultCase{"concat_into_input", {"Concat", {"a", "b", "a"}}, {}, false, "an input is also an output"},
    FaultCase{"add_one_input", {"Add", {"a", "y"}}, {}, false, "a tensor is missing"},
    FaultCase{"add_three_inputs", {"Add", {"a", "b", "v", "y"}}, {}, false, "more tensors than the layer type takes"},
    FaultCase{"pool_two_outputs", {"MaxPool", {"a", "y", "z"}, {2, 2, 0, 0, 0, 0, 2, 2}}, {}, false, "more tensors than the layer type takes"},
    FaultCase{"shufflesplit2_three_outputs", {"ShuffleSplit2", {"a", "b", "x", "y", "z"}, {2}}, {}, false, "takes one or two inputs and outputs"},
    FaultCase{"resize_mode2", {"Resize", {"a", "y"}, {2}, {}, 2, 2}, {}, false, "unknown resize mode"},
    FaultCase{"binaryop_op3", {"BinaryOp", {"a", "b", "y"}, {3}}, {}, false, "unknown operation"}));

}  // namespace
