// The example networks through netrun --device cpu: outputs of the right
// shape and range, and equal to the same networks written out in numpy
// (examples/check_examples.py) where a python3 with numpy is found.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/netrun/npy.h"

namespace {

// netrun's written output, or an empty array when it failed.
netrun::NpyArray RunExample(const std::string& args) {
  const std::string out = testing::TempDir() + "/example_out_" + std::to_string(getpid()) + ".npy";
  netrun::NpyArray a;
  std::string error;
  const std::string cmd = std::string(OXRIN_NETRUN) + " " + OXRIN_EXAMPLES_DIR + "/" + args +
                          " --device cpu --output " + out + " > /dev/null";
  if (std::system(cmd.c_str()) == 0) netrun::ReadNpy(out, &a, &error);
  std::remove(out.c_str());
  return a;
}

TEST(ExampleNetworks, ClassifierGivesProbabilities) {
  const netrun::NpyArray a = RunExample("classifier.json");  // a zero image
  ASSERT_EQ(a.shape, (std::vector<int64_t>{1, 1, 1, 10}));
  double sum = 0;
  for (float v : a.f32) {
    ASSERT_TRUE(std::isfinite(v) && v > 0 && v < 1) << v;
    sum += v;
  }
  EXPECT_NEAR(sum, 1.0, 1e-5);
}

TEST(ExampleNetworks, SegmenterMaskRepeatsOver2x2Blocks) {
  const std::string in = testing::TempDir() + "/example_in_" + std::to_string(getpid()) + ".npy";
  std::vector<float> frame(24 * 32 * 3);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = std::sin(0.37f * i);
  std::string error;
  ASSERT_TRUE(netrun::WriteNpy(in, {1, 24, 32, 3}, frame.data(), &error)) << error;
  const netrun::NpyArray a = RunExample("segmenter.json --input " + in);
  std::remove(in.c_str());
  ASSERT_EQ(a.shape, (std::vector<int64_t>{1, 24, 32, 1}));
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x) {
      const float v = a.f32[y * 32 + x];
      ASSERT_TRUE(std::isfinite(v) && v > 0 && v < 1) << v;
      ASSERT_EQ(v, a.f32[(y & ~1) * 32 + (x & ~1)]) << y << "," << x;  // nearest, x2
    }
}

TEST(ExampleNetworks, AgreeWithNumpyModels) {
  std::string python;
  for (const char* candidate : {"python3", "/usr/bin/python3"})
    if (std::system((std::string(candidate) + " -c 'import numpy' > /dev/null 2>&1").c_str()) == 0) {
      python = candidate;
      break;
    }
  if (python.empty()) GTEST_SKIP() << "no python3 with numpy";
  const std::string cmd = python + " " + OXRIN_EXAMPLES_DIR + "/check_examples.py " +
                          OXRIN_NETRUN + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
  EXPECT_EQ(pclose(p), 0) << out;
}

}  // namespace
