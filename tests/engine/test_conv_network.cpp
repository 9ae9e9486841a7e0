// Networks of convolutions through netrun on the CPU: the JND example
// against the test suite's plain JND evaluation, and run order.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "jnd/jnd_weights.h"
#include "tests/jnd/jnd_reference.h"
#include "tests/engine/netrun_cli.h"
#include "tools/netrun/npy.h"

namespace {

using netruntest::Netrun;
using netruntest::Outcome;

// A byte .npy of shape 1 x h x w x 1.
void WriteBytes(const std::string& path, const std::vector<uint8_t>& v, int h, int w) {
  std::string header = "{'descr': '|u1', 'fortran_order': False, 'shape': (1, " +
                       std::to_string(h) + ", " + std::to_string(w) + ", 1), }";
  header += std::string((64 - (10 + header.size() + 1) % 64) % 64, ' ') + "\n";
  std::ofstream f(path, std::ios::binary);
  const char magic[8] = {'\x93', 'N', 'U', 'M', 'P', 'Y', 1, 0};
  f.write(magic, 8);
  const uint16_t len = static_cast<uint16_t>(header.size());
  const char len_bytes[2] = {static_cast<char>(len & 0xFF), static_cast<char>(len >> 8)};
  f.write(len_bytes, 2);
  f << header;
  f.write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size()));
}

// Synthetic luma with edges, gradients and texture: smooth ramps, a
// bright disc, stripes and pseudo-random grain.
std::vector<uint8_t> Frame(int w, int h) {
  std::vector<uint8_t> v(static_cast<size_t>(w) * h);
  uint32_t seed = 12345;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      double p = 40 + 120.0 * x / w + 30 * std::sin(y * 0.3);
      if ((x - w / 3) * (x - w / 3) + (y - h / 2) * (y - h / 2) < h * h / 9) p = 230;
      if (x > 2 * w / 3 && (x / 3) % 2 == 0) p -= 60;
      p += static_cast<int>(seed >> 28) - 8;
      v[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(std::min(255.0, std::max(0.0, p)));
    }
  return v;
}

TEST(JndExample, CpuMatchesPlainFilterOnInteriorPixels) {
  const int w = 128, h = 72;  // the example's declared input shape
  const std::string dir = testing::TempDir() + "/jnd_example_" + std::to_string(getpid());
  const std::string in_path = dir + "_in.npy", out_path = dir + "_out.npy";
  const std::vector<uint8_t> frame = Frame(w, h);
  WriteBytes(in_path, frame, h, w);
  const Outcome o = Netrun(std::string(OXRIN_EXAMPLES_DIR) + "/jnd.json --device cpu --input " +
                           in_path + " --output " + out_path);
  ASSERT_EQ(o.status, 0) << o.output;
  // Placement per layer: each ReLU folds into its convolution.
  EXPECT_NE(o.output.find("conv1                Conv               cpu:conv_"),
            std::string::npos) << o.output;
  EXPECT_NE(o.output.find("relu1                Relu               cpu:folded"), std::string::npos);
  EXPECT_NE(o.output.find("conv3                Conv               cpu:conv_"),
            std::string::npos);
  EXPECT_NE(o.output.find("relu3                Relu               cpu:folded"),
            std::string::npos);

  netrun::NpyArray out;
  std::string error;
  ASSERT_TRUE(netrun::ReadNpy(out_path, &out, &error)) << error;
  ASSERT_EQ(out.shape, (std::vector<int64_t>{1, h, w, 1}));
  const std::vector<uint8_t> ref =
      testref::Filter(testref::FromSet(jnd::kJndWeightSet3), frame, w, h, false);
  const std::vector<uint8_t> quantised =
      testref::Filter(testref::FromSet(jnd::kJndWeightSet3), frame, w, h, true);
  // Three 3x3 layers: the engine's zero padding and the filter's clamped
  // edges differ in a border of 3 pixels only.
  constexpr int kBorder = 3;
  int total = 0, within1 = 0, exact = 0, max_diff = 0, q_within1 = 0, q_max = 0;
  for (int y = kBorder; y < h - kBorder; ++y)
    for (int x = kBorder; x < w - kBorder; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      const int got = testref::Saturate(testref::RoundHalfEven(out.f32[i] * 255.0));
      const int d = std::abs(got - ref[i]);
      const int dq = std::abs(got - quantised[i]);
      ++total;
      within1 += d <= 1;
      exact += d == 0;
      max_diff = std::max(max_diff, d);
      q_within1 += dq <= 1;
      q_max = std::max(q_max, dq);
    }
  std::printf("jnd example vs plain filter: %d interior pixels, %d exact, %d within 1, max %d; "
              "vs quantised filter: %d within 1, max %d\n",
              total, exact, within1, max_diff, q_within1, q_max);
  EXPECT_GE(within1, total - total / 1000);  // at least 99.9% within one level
  EXPECT_LE(max_diff, 1);
  std::remove(in_path.c_str());
  std::remove(out_path.c_str());
}

// An in-place activation listed after another consumer of its tensor
// still runs right after the tensor's producer.
TEST(RunOrder, InPlaceActivationRunsAfterItsProducer) {
  const std::string base = testing::TempDir() + "/run_order_" + std::to_string(getpid());
  {
    const float w[4] = {1.f, 0.f, 0.f, 1.f};  // identity 1x1 on two channels
    std::string error;
    ASSERT_TRUE(netrun::WriteNpy(base + "_w.npy", {2, 1, 1, 2}, w, &error)) << error;
    const float x[8] = {-1.f, 2.f, 3.f, -4.f, 0.5f, -0.5f, -2.f, 1.f};
    ASSERT_TRUE(netrun::WriteNpy(base + "_x.npy", {1, 2, 2, 2}, x, &error)) << error;
  }
  std::ofstream(base + ".json") << R"({"name": "order",
    "inputs": [{"name": "x", "shape": [1, 2, 2, 2]}],
    "weights": {"w": {"file": ")" << base << R"(_w.npy"}},
    "layers": [
      {"type": "Conv", "name": "c", "params": [1, 1, 0, 0, 0, 0, 1, 1, 1, 1], "tensors": ["x", "y"], "weights": ["w"]},
      {"type": "Sigmoid", "name": "s", "tensors": ["y", "z"]},
      {"type": "Relu", "name": "r", "tensors": ["y", "y"]},
      {"type": "Conv", "name": "c2", "params": [1, 1, 0, 0, 0, 0, 1, 1, 1, 1], "tensors": ["z", "out"], "weights": ["w"]}]})";
  const Outcome o = Netrun(base + ".json --input " + base + "_x.npy --output " + base + "_z.npy");
  ASSERT_EQ(o.status, 0) << o.output;
  const size_t conv = o.output.find("  c    "), relu = o.output.find("  r    "),
               sig = o.output.find("  s    ", o.output.find("run:"));
  ASSERT_NE(sig, std::string::npos) << o.output;
  EXPECT_LT(conv, relu);
  EXPECT_LT(o.output.find("  r    ", o.output.find("run:")), sig) << o.output;
  netrun::NpyArray z;
  std::string error;
  ASSERT_TRUE(netrun::ReadNpy(base + "_z.npy", &z, &error)) << error;
  // identity(sigmoid(max(x, 0))): 0.5 for the negative inputs.
  const float want[8] = {0.5f, 0.880797f, 0.952574f, 0.5f, 0.622459f, 0.5f, 0.5f, 0.731059f};
  ASSERT_EQ(z.f32.size(), 8u);
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(z.f32[i], want[i], 1e-5) << i;
  for (const char* s : {".json", "_w.npy", "_x.npy", "_z.npy"}) std::remove((base + s).c_str());
}

}  // namespace
