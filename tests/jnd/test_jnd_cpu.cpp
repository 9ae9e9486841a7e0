// JndFilterCpu: every instruction-set path gives the plain path's bytes,
// any split over threads gives the one-thread bytes, the output follows
// the independent reference, and bad planes are refused untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "jnd/jnd_filter_cpu.h"
#include "jnd_frames.h"
#include "jnd_reference.h"
#include "capture_stdout.h"

namespace {

using jnd::JndFilterCpu;
using jnd::JndWeightSetData;

struct Size {
  int w, h;
};
const Size kOddSizes[] = {{1, 1},    {2, 2},     {3, 2},     {17, 9},
                          {426, 240}, {641, 361}, {854, 480}, {721, 1279}};

// The four shipped sets and one of random weights large enough to need
// fewer fraction bits.
std::vector<JndWeightSetData> Sets() {
  std::vector<JndWeightSetData> sets = {jnd::kJndWeightSet1, jnd::kJndWeightSet2,
                                        jnd::kJndWeightSet3, jnd::kJndWeightSet4};
  JndWeightSetData r{};
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-6.0f, 6.0f);
  for (float& v : r.conv1Weights) v = u(rng);
  for (float& v : r.conv2Weights) v = u(rng) / 4;
  for (float& v : r.conv3Weights) v = u(rng) / 8;
  for (float& v : r.conv1Bias) v = u(rng) / 10;
  for (float& v : r.conv2Bias) v = u(rng) / 10;
  r.conv3Bias[0] = 0.3f;
  sets.push_back(r);
  return sets;
}

std::vector<uint8_t> Noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> p(n);
  for (uint8_t& v : p) v = static_cast<uint8_t>(rng());
  return p;
}

// Filters `in` (rows of `stride` bytes) with one path and thread count,
// in place or into a separate plane whose row padding starts at 0xA5.
std::vector<uint8_t> Filter(const JndWeightSetData& set, const jnd::JndCpuKernels& path, int threads,
                         const std::vector<uint8_t>& in, int w, int h, int stride, bool inPlace) {
  JndFilterCpu f;
  EXPECT_TRUE(f.initialise(jnd::WeightsOf(set), threads, &path));
  std::vector<uint8_t> src = in;
  std::vector<uint8_t> out(in.size(), 0xA5);
  uint8_t* dst = inPlace ? src.data() : out.data();
  EXPECT_TRUE(f.process(src.data(), dst, w, h, stride, true)) << f.errorText();
  if (!inPlace) {
    EXPECT_EQ(src, in) << "source changed";
  }
  return inPlace ? src : out;
}

TEST(JndCpu, EveryPathAndThreadSplitGivesThePlainBytes) {
  const std::vector<const jnd::JndCpuKernels*> paths = jnd::JndCpuPaths();
  ASSERT_STREQ(paths.front()->name, "scalar");
  const std::vector<JndWeightSetData> sets = Sets();
  unsigned seed = 1;
  for (const Size s : kOddSizes) {
    const int stride = s.w + 5;
    const std::vector<uint8_t> in = Noise(static_cast<size_t>(stride) * s.h, seed++);
    for (size_t k = 0; k < sets.size(); ++k) {
      const std::vector<uint8_t> plain = Filter(sets[k], *paths[0], 1, in, s.w, s.h, stride, false);
      for (const jnd::JndCpuKernels* p : paths) {
        for (const int threads : {1, 3}) {
          for (const bool inPlace : {false, true}) {
            const std::vector<uint8_t> got = Filter(sets[k], *p, threads, in, s.w, s.h, stride, inPlace);
            // In place, the row padding keeps the input's bytes.
            std::vector<uint8_t> want = plain;
            for (int y = 0; y < s.h; ++y)
              for (int x = s.w; x < stride; ++x) {
                const size_t i = static_cast<size_t>(y) * stride + x;
                want[i] = inPlace ? in[i] : 0xA5;
              }
            EXPECT_TRUE(got == want) << p->name << ", " << threads << " threads, "
                                     << (inPlace ? "in place" : "separate") << ", set " << k + 1
                                     << ", " << s.w << "x" << s.h;
          }
        }
      }
    }
  }
}

// Tall frames split into many bands, in place, against one thread.
TEST(JndCpu, ManyBandsInPlaceMatchOneThread) {
  const jnd::JndCpuKernels& best = jnd::JndCpuBestPath();
  for (const Size s : {Size{64, 100}, Size{1280, 720}, Size{5, 300}}) {
    const std::vector<uint8_t> in = Noise(static_cast<size_t>(s.w) * s.h, 99);
    const std::vector<uint8_t> one = Filter(jnd::kJndWeightSet3, best, 1, in, s.w, s.h, s.w, true);
    for (const int threads : {2, 4, 7, 16})
      EXPECT_TRUE(Filter(jnd::kJndWeightSet3, best, threads, in, s.w, s.h, s.w, true) == one)
          << threads << " threads at " << s.w << "x" << s.h;
  }
}

TEST(JndCpu, FollowsTheReferenceForEverySetAndSize) {
  const JndWeightSetData* sets[] = {&jnd::kJndWeightSet1, &jnd::kJndWeightSet2,
                                    &jnd::kJndWeightSet3, &jnd::kJndWeightSet4};
  std::vector<Size> sizes(std::begin(kOddSizes), std::end(kOddSizes));
  sizes.push_back({1280, 720});
  for (const Size s : sizes) {
    const std::vector<uint8_t> in = testframes::RealFrame(s.w, s.h);
    for (int id = 0; id < 4; ++id) {
      const std::vector<uint8_t> got =
          Filter(*sets[id], jnd::JndCpuBestPath(), 2, in, s.w, s.h, s.w, false);
      const testframes::Diff d =
          testframes::Compare(got, testref::Filter(testref::FromSet(*sets[id]), in, s.w, s.h));
      EXPECT_LE(d.max, 3) << "set " << id + 1 << " at " << s.w << "x" << s.h;
      EXPECT_LE(d.over1 * 1000, got.size()) << "set " << id + 1 << " at " << s.w << "x" << s.h;
    }
  }
}

TEST(JndCpu, RefusesBadPlanesAndWritesNothing) {
  uint8_t plane[64];
  const struct {
    bool nullSrc, nullDst;
    int w, h, stride;
    const char* why;
  } cases[] = {
      {true, false, 4, 4, 4, "null"},   {false, true, 4, 4, 4, "null"},
      {false, false, 0, 4, 4, "width"}, {false, false, 4, -1, 4, "width"},
      {false, false, -3, 4, 4, "width"}, {false, false, 8, 4, 7, "stride"},
  };
  JndFilterCpu f;
  testutil::CaptureStdout quiet;
  EXPECT_FALSE(f.process(plane, plane, 4, 4, 4, true)) << "before initialise";
  ASSERT_TRUE(f.initialise(jnd::WeightsOf(jnd::kJndWeightSet2), 2));
  for (const auto& c : cases) {
    std::fill(std::begin(plane), std::end(plane), 77);
    EXPECT_FALSE(f.process(c.nullSrc ? nullptr : plane, c.nullDst ? nullptr : plane, c.w, c.h,
                           c.stride, true));
    EXPECT_NE(f.errorText().find(c.why), std::string::npos) << f.errorText();
    EXPECT_TRUE(std::all_of(std::begin(plane), std::end(plane), [](uint8_t v) { return v == 77; }));
  }
  EXPECT_FALSE(JndFilterCpu().initialise(jnd::WeightsOf(jnd::kJndWeightSet2), 0));
}

}  // namespace
