// JndFilterCL against the plain reference, on real content and on every
// awkward size, for all four shipped sets; probe weight sets that catch
// packing and scaling faults.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "jnd/jnd_filter.h"
#include "jnd/jnd_filter_cpu.h"
#include "jnd_frames.h"
#include "jnd_reference.h"
#include "jnd_test_env.h"

namespace {

using testframes::Compare;
using testframes::Diff;
using testframes::RealFrame;
using testframes::Synthetic;
using jnd::JndFilterCL;
using jnd::JndWeightSetData;

std::unique_ptr<JndFilterCL> g_filter;

class JndPipeline : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const int kind = testutil::TestDeviceKind();
    if (kind < 0) return;
    g_filter.reset(new JndFilterCL());
    // A binary cache keeps later test processes from recompiling.
    const std::string cache = ::testing::TempDir() + "jnd_tests.bin";
    testutil::CaptureStdout quiet;
    if (!g_filter->initialise(jnd::WeightsOf(jnd::kJndWeightSet2), cache, 0, kind, {}, true))
      g_filter.reset();
  }
  static void TearDownTestSuite() { g_filter.reset(); }

  void SetUp() override {
    if (!g_filter) GTEST_SKIP() << "no OpenCL device for the JND filter";
  }

  // Runs the filter in place on a copy of `in`.
  std::vector<uint8_t> Run(const std::vector<uint8_t>& in, int w, int h) {
    std::vector<uint8_t> plane = in;
    testutil::CaptureStdout quiet;
    EXPECT_TRUE(g_filter->process(plane.data(), plane.data(), w, h, w, true)) << w << "x" << h;
    return plane;
  }

  void Use(const JndWeightSetData& set) {
    testutil::CaptureStdout quiet;
    ASSERT_TRUE(g_filter->update_net_paras(jnd::WeightsOf(set)));
  }
};

TEST_F(JndPipeline, MatchesTheReferenceForEverySetAndSize) {
  const struct {
    int w, h;
  } sizes[] = {{1, 1},     {2, 2},     {3, 3},     {3, 2},      {17, 9},
               {426, 240}, {641, 361}, {854, 480}, {721, 1279}, {1280, 720}};
  const JndWeightSetData* sets[] = {&jnd::kJndWeightSet1, &jnd::kJndWeightSet2,
                                    &jnd::kJndWeightSet3, &jnd::kJndWeightSet4};
  for (int id = 0; id < 4; ++id) {
    Use(*sets[id]);
    const testref::Net net = testref::FromSet(*sets[id]);
    for (const auto& s : sizes) {
      const std::vector<uint8_t> in =
          (s.w == 1280) ? RealFrame(s.w, s.h) : Synthetic(s.w, s.h);
      const std::vector<uint8_t> got = Run(in, s.w, s.h);
      const Diff d = Compare(got, testref::Filter(net, in, s.w, s.h));
      EXPECT_LE(d.max, 2) << "set " << id + 1 << " at " << s.w << "x" << s.h << ": pixel "
                          << d.worstAt % s.w << "," << d.worstAt / s.w << ", " << d.over1
                          << " pixels off by more than 1";
      EXPECT_LE(d.over1 * 1000, got.size()) << "set " << id + 1 << " at " << s.w << "x" << s.h;
    }
  }
}

// Probe sets: only the taps a case names are non-zero.
JndWeightSetData Zero() { return JndWeightSetData{}; }

JndWeightSetData Route(int c, int d, int tap1 = 4) {
  JndWeightSetData s = Zero();
  s.conv1Weights[c * 9 + tap1] = 1.0f;        // conv1 oc c
  s.conv2Weights[(d * 4 + c) * 9 + 4] = 1.0f;  // conv2 (oc d, ic c)
  s.conv3Weights[d * 9 + 4] = 1.0f;            // conv3 ic d
  return s;
}

// The CPU filter computes the same quantised network in fixed point: it
// may differ from the device by a level here and there.
TEST_F(JndPipeline, CpuFilterAgreesWithTheDevice) {
  const struct {
    int w, h;
  } sizes[] = {{17, 9}, {641, 361}, {1280, 720}};
  const JndWeightSetData* sets[] = {&jnd::kJndWeightSet1, &jnd::kJndWeightSet2,
                                    &jnd::kJndWeightSet3, &jnd::kJndWeightSet4};
  for (const auto& s : sizes) {
    const std::vector<uint8_t> in = RealFrame(s.w, s.h);
    for (int id = 0; id < 4; ++id) {
      Use(*sets[id]);
      jnd::JndFilterCpu cpu;
      ASSERT_TRUE(cpu.initialise(jnd::WeightsOf(*sets[id]), 1));
      std::vector<uint8_t> got = in;
      ASSERT_TRUE(cpu.process(got.data(), got.data(), s.w, s.h, s.w, true));
      const Diff d = Compare(got, Run(in, s.w, s.h));
      EXPECT_LE(d.max, 3) << "set " << id + 1 << " at " << s.w << "x" << s.h;
      EXPECT_LE(d.over1 * 1000, got.size()) << "set " << id + 1 << " at " << s.w << "x" << s.h;
    }
  }
}

TEST_F(JndPipeline, IdentityAndShiftProbes) {
  const int w = 37, h = 23;
  const std::vector<uint8_t> in = Synthetic(w, h);
  for (int ky = 0; ky < 3; ++ky)
    for (int kx = 0; kx < 3; ++kx) {
      Use(Route(0, 0, ky * 3 + kx));
      const std::vector<uint8_t> out = Run(in, w, h);
      int worst = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int sx = std::min(std::max(x + kx - 1, 0), w - 1);
          const int sy = std::min(std::max(y + ky - 1, 0), h - 1);
          worst = std::max(worst, std::abs(int(out[y * w + x]) - int(in[sy * w + sx])));
        }
      EXPECT_LE(worst, 1) << "conv1 tap (" << ky << "," << kx << ")";
    }
}

TEST_F(JndPipeline, EveryChannelRouteGivesTheSameImage) {
  const int w = 64, h = 32;
  const std::vector<uint8_t> in = Synthetic(w, h);
  Use(Route(0, 0));
  const std::vector<uint8_t> first = Run(in, w, h);
  for (int c = 0; c < 4; ++c)
    for (int d = 0; d < 4; ++d) {
      Use(Route(c, d));
      EXPECT_EQ(Run(in, w, h), first) << "route conv1 " << c << " -> conv2 " << d;
    }
}

TEST_F(JndPipeline, OutputRoundingAndSaturation) {
  const struct {
    float bias;
    uint8_t expected;
  } cases[] = {{2.5f / 255.0f, 2}, {4.5f / 255.0f, 4}, {-0.1f, 0}, {1.2f, 255}};
  const int w = 9, h = 5;
  for (const auto& c : cases) {
    JndWeightSetData s = Zero();
    for (float& b : s.conv3Bias) b = c.bias;
    Use(s);
    const std::vector<uint8_t> out = Run(Synthetic(w, h), w, h);
    EXPECT_EQ(out, std::vector<uint8_t>(out.size(), c.expected)) << c.bias;
  }
}

TEST_F(JndPipeline, ConstantPlaneGivesAConstantPlane) {
  Use(jnd::kJndWeightSet3);
  for (int v : {0, 17, 128, 255}) {
    const std::vector<uint8_t> out = Run(std::vector<uint8_t>(50 * 30, static_cast<uint8_t>(v)), 50, 30);
    EXPECT_EQ(out, std::vector<uint8_t>(out.size(), out[0])) << v;
  }
}

TEST_F(JndPipeline, GeometryIsSetUpOncePerSize) {
  Use(jnd::kJndWeightSet2);
  const int before = g_filter->geometrySetups();
  std::vector<uint8_t> a = Synthetic(40, 20);
  Run(a, 40, 20);
  Run(a, 40, 20);
  EXPECT_EQ(g_filter->geometrySetups(), before + 1);
  // A stride change alone reallocates.
  std::vector<uint8_t> wide(48 * 20, 0);
  testutil::CaptureStdout quiet;
  EXPECT_TRUE(g_filter->process(wide.data(), wide.data(), 40, 20, 48, true));
  EXPECT_EQ(g_filter->geometrySetups(), before + 2);
}

TEST_F(JndPipeline, BadFramesAreRefusedAndLeftAlone) {
  std::vector<uint8_t> plane(16, 77);
  testutil::CaptureStdout quiet;
  EXPECT_FALSE(g_filter->process(plane.data(), plane.data(), 0, 4, 4, true));
  EXPECT_FALSE(g_filter->process(plane.data(), plane.data(), 4, -1, 4, true));
  EXPECT_FALSE(g_filter->process(plane.data(), plane.data(), 4, 4, 3, true));
  EXPECT_FALSE(g_filter->process(nullptr, plane.data(), 4, 4, 4, true));
  EXPECT_EQ(plane, std::vector<uint8_t>(16, 77));
}

}  // namespace
