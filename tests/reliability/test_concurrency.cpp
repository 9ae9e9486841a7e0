// Calls that the host may make from several threads at once: reference
// counting of the filters, and overlapping frames while properties change.
// Plain checks here; the thread sanitizer build (tools/sanitize.sh) runs
// them to catch the races the checks cannot see.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fisheye/fish_correction_filter.h"
#include "jnd_test_env.h"
#include "pvc/pvc_video_filter.h"
#include "pvc_fakes.h"

namespace {

// Counts destructions of a reference-counted interface object.
std::atomic<int> g_destroyed{0};
class Counted final : public host::RefCounted<host::ExtensionVideoFilter, Counted> {
 public:
  ~Counted() { g_destroyed.fetch_add(1); }
  void setEnabled(bool) override {}
  bool isEnabled() override { return true; }
  int setProperty(const char*, const char*, size_t) override { return 0; }
  int start(host::ObjectRef<host::FilterControl> c) override {
    c.reset();
    return 0;
  }
  int stop() override { return 0; }
  int processFrame(host::ObjectRef<host::HostVideoFrame> in, host::ObjectRef<host::HostVideoFrame>&) override {
    in.reset();
    return 1;
  }
};

TEST(ConcurrencyRefCount, CopiesOnManyThreadsDestroyOnce) {
  constexpr int kThreads = 4, kRounds = 20000;
  for (int trial = 0; trial < 20; ++trial) {
    g_destroyed = 0;
    auto* object = new Counted();
    object->addRef();
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (int t = 0; t < kThreads; ++t) {
      host::ObjectRef<host::ExtensionVideoFilter> mine(object);
      threads.emplace_back([mine, &go]() mutable {
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < kRounds / 20; ++i) {
          host::ObjectRef<host::ExtensionVideoFilter> copy = mine;
          copy.reset();
        }
        mine.reset();
      });
    }
    go = true;
    object->release();
    for (auto& t : threads) t.join();
    EXPECT_EQ(g_destroyed.load(), 1);
  }
}

std::vector<uint8_t> Texture(int w, int h) {
  std::vector<uint8_t> p(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i * 29 + (i >> 5));
  return p;
}

// Two threads hand frames to one perceptual filter while a third changes
// its model and switch.  Every frame comes back with a defined result and
// as a whole: untouched, or filtered.  On a device each frame is filtered
// by one model or another; without one, none is filtered.
TEST(ConcurrencyPvcFilter, FramesOverlapWithPropertyChanges) {
  testutil::SelectOpenClLibrary();
  testutil::RecordingControl control;  // outlives the filter
  pvc::PVCVideoFilter filter;
  filter.addRef();
  ASSERT_EQ(filter.setProperty("pvc_parameter", R"({"PvcSupport":true})", 20), 0);
  filter.start(host::ObjectRef<host::FilterControl>(&control));
  const int W = 40, H = 24;
  const std::vector<uint8_t> in = Texture(W, H);
  std::atomic<bool> stop{false};
  std::atomic<long> frames{0}, filtered{0}, bad{0};
  testutil::CaptureStdout quiet;
  auto hammer = [&] {
    while (!stop.load()) {
      testutil::PlaneFrame frame(W, H);
      frame.plane() = in;
      host::ObjectRef<host::HostVideoFrame> out;
      const int r = filter.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);
      ++frames;
      if (r == 0) ++filtered;
      if ((r != 0 && r != 1) || (r == 0) != (out.get() == &frame)) ++bad;
      if (testutil::PersonaName() == nullptr && frame.plane() != in) ++bad;
      out.reset();
      if (frame.refs.load() != 0) ++bad;
    }
  };
  auto tweak = [&] {
    const char* values[] = {R"({"pvc_one_model":4})", R"({"pvc_one_model":3})",
                            R"({"enable_pvc":false})", R"({"enable_pvc":true})",
                            R"({"DevicesId":"NVIDIA GeForce RTX 2070"})"};
    for (int i = 0; !stop.load(); ++i) {
      const char* v = values[i % 5];
      filter.setProperty("pvc_parameter", v, std::strlen(v) + 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  };
  std::thread a(hammer), b(hammer), c(tweak);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  stop = true;
  a.join();
  b.join();
  c.join();
  quiet.Finish();
  filter.stop();
  EXPECT_GT(frames.load(), 0);
  EXPECT_EQ(bad.load(), 0);
  if (testutil::PersonaName() == nullptr) {
    EXPECT_EQ(filtered.load(), 0);
  }
}

// A host control that counts log calls reaching it while nobody holds a
// reference to it, as happens to a control its host has already released.
// Each call lingers a little so an overlapping release shows.
class ReleaseCheckingControl : public testutil::RecordingControl {
 public:
  int log(int, const char*, ...) override {
    if (refs.load() <= 0) late.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::microseconds(50));
    if (refs.load() <= 0) late.fetch_add(1);
    return 0;
  }
  static std::atomic<long> late;
};
std::atomic<long> ReleaseCheckingControl::late{0};

// Frames in flight while start replaces the control: every log line of a
// frame goes to a control the filter still holds for that frame.  On the
// CPU backend, so frames reach their log lines without a device.
TEST(ConcurrencyPvcFilter, FramesLogThroughAControlTheyHoldWhileStartReplacesIt) {
  constexpr int kStarts = 300;
  std::vector<ReleaseCheckingControl> controls(kStarts);  // outlive the filter
  ReleaseCheckingControl::late = 0;
  pvc::PVCVideoFilter filter;
  filter.addRef();
  ASSERT_EQ(filter.setProperty("pvc_parameter", R"({"Backend":"cpu"})", 18), 0);
  filter.start(host::ObjectRef<host::FilterControl>(&controls[0]));
  const int W = 40, H = 24;
  const std::vector<uint8_t> in = Texture(W, H);
  std::atomic<bool> stop{false};
  std::atomic<long> frames{0};
  auto hammer = [&] {
    while (!stop.load()) {
      testutil::PlaneFrame frame(W, H);
      frame.plane() = in;
      host::ObjectRef<host::HostVideoFrame> out;
      filter.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);
      out.reset();
      ++frames;
    }
  };
  std::thread a(hammer), b(hammer);
  for (int i = 1; i < kStarts; ++i) {
    filter.start(host::ObjectRef<host::FilterControl>(&controls[i]));
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  stop = true;
  a.join();
  b.join();
  filter.stop();
  EXPECT_GT(frames.load(), 0);
  EXPECT_EQ(ReleaseCheckingControl::late.load(), 0);
  for (int i = 0; i + 1 < kStarts; ++i) EXPECT_EQ(controls[i].refs.load(), 0) << i;
  EXPECT_EQ(controls[kStarts - 1].refs.load(), 1);
}

// Separate filters share nothing: fisheye filters on their own threads,
// each with its own properties and frames.
TEST(ConcurrencyFishFilter, IndependentFiltersOnTheirOwnThreads) {
  std::atomic<long> bad{0};
  auto run = [&](int seed) {
    testutil::RecordingControl control;  // outlives the filter
    fisheye::FishCorrectionVideoFilter f;
    f.addRef();
    f.start(host::ObjectRef<host::FilterControl>(&control));
    for (int i = 0; i < 300; ++i) {
      const std::string v = "{\"enable\":1,\"ss0\":" + std::to_string(0.5 + seed + i % 7) + "}";
      if (f.setProperty("fishCorrection", v.c_str(), v.size() + 1) != 0) ++bad;
      testutil::PlaneFrame frame(16 + seed, 8);
      frame.plane() = Texture(16 + seed, 8);
      host::ObjectRef<host::HostVideoFrame> out;
      if (f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out) != 0) ++bad;
      if (out.get() != &frame || frame.plane() != Texture(16 + seed, 8)) ++bad;
    }
    f.stop();
  };
  std::thread a(run, 1), b(run, 2);
  a.join();
  b.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
