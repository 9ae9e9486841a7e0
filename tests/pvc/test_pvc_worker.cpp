// The worker's status sequence and the filter end to end on an OpenCL
// device: this machine's device shown as a GPU by the device persona when
// the test runs with one, or no GPU at all when it runs without.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>

#include "jnd/jnd_filter.h"
#include "jnd_test_env.h"
#include "platform/platform.h"
#include "pvc/pvc_video_filter.h"
#include "pvc_fakes.h"
#include "tools/persona/persona_api.h"

// Counts operator new calls while armed, to show the frame path allocates
// nothing once warmed up.
static std::atomic<bool> g_count_allocations{false};
static std::atomic<long> g_allocations{0};

void* operator new(size_t n) {
  if (g_count_allocations.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

using pvc::PvcWorker;

host::FrameDataRecord RecordOf(std::vector<uint8_t>& plane, int w, int h) {
  host::FrameDataRecord r;
  host::PrepareFrameDataRecord(&r);
  r.luma = plane.data();
  r.width = w;
  r.height = h;
  return r;
}

std::vector<uint8_t> Texture(int w, int h, int seed) {
  std::vector<uint8_t> p(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      p[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>((x * 13 + y * 7 + seed * 31 + (x ^ y)) & 0xFF);
  return p;
}

// The JND filter run directly on the same device, for byte comparisons.
std::vector<uint8_t> Direct(const std::vector<uint8_t>& in, int w, int h, int set) {
  static std::unique_ptr<jnd::JndFilterCL> filter;
  testutil::CaptureStdout quiet;
  if (!filter) {
    filter.reset(new jnd::JndFilterCL());
    if (!filter->initialise(jnd::WeightsOf(jnd::kJndWeightSet2), "", 0, 0, {}, true)) return {};
  }
  filter->update_net_paras(jnd::WeightsOf(*jnd::ShippedWeightSet(set)));
  std::vector<uint8_t> out = in;
  filter->process(out.data(), out.data(), w, h, w, true);
  return out;
}

class PvcWorkerOnDevice : public ::testing::Test {
 protected:
  void SetUp() override { testutil::SelectOpenClLibrary(); }
  bool gpu() const { return testutil::PersonaName() != nullptr; }
  int Process(PvcWorker& w, std::vector<uint8_t>& plane, int width, int height, int model) {
    const host::FrameDataRecord r = RecordOf(plane, width, height);
    testutil::CaptureStdout quiet;
    return w.process(&r, model);
  }
};

TEST_F(PvcWorkerOnDevice, BadModelIdsAnswerMinusOneInEveryState) {
  PvcWorker w;
  std::vector<uint8_t> plane(16);
  EXPECT_EQ(Process(w, plane, 4, 4, 5), -1);
  EXPECT_EQ(Process(w, plane, 4, 4, -1), -1);
  w.dropJndContext();
  EXPECT_EQ(Process(w, plane, 4, 4, 3), -6);
  EXPECT_EQ(Process(w, plane, 4, 4, 7), -1);
}

TEST_F(PvcWorkerOnDevice, WithoutAGpuInitialisationFailsForGood) {
  if (gpu()) GTEST_SKIP() << "runs without a GPU persona";
  PvcWorker w;
  std::vector<uint8_t> plane = Texture(64, 32, 1);
  const std::vector<uint8_t> before = plane;
  EXPECT_EQ(Process(w, plane, 64, 32, 3), -3);
  EXPECT_TRUE(w.libraryError());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Process(w, plane, 64, 32, 3), -2);
  w.dropJndContext();
  EXPECT_EQ(Process(w, plane, 64, 32, 3), -2);
  EXPECT_EQ(plane, before);
}

TEST_F(PvcWorkerOnDevice, InitWarmUpThenFilterWithTheModelsSet) {
  if (!gpu()) GTEST_SKIP() << "needs a GPU persona";
  PvcWorker w;
  const int W = 96, H = 40;
  std::vector<uint8_t> plane = Texture(W, H, 2);
  EXPECT_EQ(Process(w, plane, W, H, 3), -3);
  EXPECT_FALSE(w.libraryError());
  EXPECT_EQ(Process(w, plane, W, H, 3), -5);
  EXPECT_EQ(plane, Texture(W, H, 2)) << "warm-up frames go out unfiltered";
  for (int i = 0; i < 2; ++i) {
    std::vector<uint8_t> p = Texture(W, H, 10 + i);
    ASSERT_EQ(Process(w, p, W, H, 3), 0);
    EXPECT_EQ(p, Direct(Texture(W, H, 10 + i), W, H, 3));
  }
  // A new size costs one frame, then filtering resumes.
  std::vector<uint8_t> small = Texture(50, 30, 3);
  EXPECT_EQ(Process(w, small, 50, 30, 3), -5);
  EXPECT_EQ(Process(w, small, 50, 30, 3), 0);
  EXPECT_EQ(small, Direct(Texture(50, 30, 3), 50, 30, 3));
  // So does a new model, which then filters with its own set.
  std::vector<uint8_t> p1 = Texture(50, 30, 4);
  EXPECT_EQ(Process(w, p1, 50, 30, 1), -5);
  EXPECT_EQ(Process(w, p1, 50, 30, 1), 0);
  EXPECT_EQ(p1, Direct(Texture(50, 30, 4), 50, 30, 1));
  EXPECT_NE(p1, Direct(Texture(50, 30, 4), 50, 30, 3));
  // Alternating sizes never filter.
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Process(w, plane, W, H, 1), -5);
    EXPECT_EQ(Process(w, small, 50, 30, 1), -5);
  }
  w.dropJndContext();
  EXPECT_EQ(Process(w, plane, W, H, 1), -6);
}

TEST_F(PvcWorkerOnDevice, PerFrameFaultAnswersMinusSixAndLeavesThePlane) {
  if (!gpu()) GTEST_SKIP() << "needs a GPU persona";
  platform::LibHandle persona = platform::LoadedLibrary(std::getenv("OXRIN_TEST_CL_LIBRARY"));
  auto fail_call =
      reinterpret_cast<persona_fail_fn>(platform::FindSymbol(persona, "persona_fail_call"));
  if (fail_call == nullptr) GTEST_SKIP() << "persona without a fault switch";
  PvcWorker w;
  const int W = 64, H = 32;
  std::vector<uint8_t> plane = Texture(W, H, 5);
  ASSERT_EQ(Process(w, plane, W, H, 3), -3);
  ASSERT_EQ(Process(w, plane, W, H, 3), -5);
  int faults_hit = 0;
  for (const char* entry : {"clEnqueueNDRangeKernel", "clEnqueueWriteBuffer", "clEnqueueReadBuffer",
                            "clEnqueueMapBuffer", "clFinish"}) {
    fail_call(entry, 1, CL_OUT_OF_RESOURCES);
    std::vector<uint8_t> p = Texture(W, H, 6);
    const int status = Process(w, p, W, H, 3);
    fail_call(nullptr, 0, 0);
    if (status == 0) {
      // The entry point was not on this frame's path; the frame is whole.
      EXPECT_EQ(p, Direct(Texture(W, H, 6), W, H, 3)) << entry;
    } else {
      ++faults_hit;
      EXPECT_EQ(status, -6) << entry;
      EXPECT_EQ(p, Texture(W, H, 6)) << entry << ": plane changed by a failed frame";
    }
    std::vector<uint8_t> next = Texture(W, H, 7);
    EXPECT_EQ(Process(w, next, W, H, 3), 0) << "after a fault in " << entry;
    EXPECT_EQ(next, Direct(Texture(W, H, 7), W, H, 3));
  }
  // Launch, upload, mapped read-back and the final wait are all on the path.
  EXPECT_EQ(faults_hit, 4);
}

// Starts a filter with `property`, runs two frames (set-up and warm-up),
// then counts the allocations of four filtered frames.
long FramePathAllocations(const char* property) {
  pvc::PVCVideoFilter f;
  testutil::RecordingControl control;
  EXPECT_EQ(f.setProperty("pvc_parameter", property, 0), 0);
  f.start(host::ObjectRef<host::FilterControl>(&control));
  testutil::PlaneFrame frame(128, 64);
  frame.plane() = Texture(128, 64, 8);
  host::ObjectRef<host::HostVideoFrame> out;
  int results[6];
  testutil::CaptureStdout quiet;
  for (int i = 0; i < 2; ++i) results[i] = f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);
  out.reset();
  g_allocations = 0;
  g_count_allocations = true;
  for (int i = 2; i < 6; ++i) {
    results[i] = f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);
    out.reset();
  }
  g_count_allocations = false;
  quiet.Finish();
  EXPECT_EQ(results[0], 1);
  EXPECT_EQ(results[1], 1);
  for (int i = 2; i < 6; ++i) EXPECT_EQ(results[i], 0) << property;
  return g_allocations.load();
}

TEST_F(PvcWorkerOnDevice, FramePathAllocatesNothingAfterWarmUp) {
  if (!gpu()) GTEST_SKIP() << "needs a GPU persona";
  EXPECT_EQ(FramePathAllocations(R"({"PvcSupport":true})"), 0);
}

// On the calling thread and split over a pool alike.
TEST_F(PvcWorkerOnDevice, CpuFramePathAllocatesNothingAfterWarmUp) {
  EXPECT_EQ(FramePathAllocations(R"({"Backend":"cpu"})"), 0);
  EXPECT_EQ(FramePathAllocations(R"({"Backend":"cpu","CpuThreads":3})"), 0);
}

TEST_F(PvcWorkerOnDevice, OverlappingCallsNeverTearAFrame) {
  if (!gpu()) GTEST_SKIP() << "needs a GPU persona";
  pvc::PVCVideoFilter f;
  testutil::RecordingControl control;
  ASSERT_EQ(f.setProperty("pvc_parameter", R"({"PvcSupport":true})", 20), 0);
  f.start(host::ObjectRef<host::FilterControl>(&control));
  const int W = 48, H = 24;
  const std::vector<uint8_t> in = Texture(W, H, 9);
  const std::vector<uint8_t> expected = Direct(in, W, H, 3);
  std::atomic<bool> stop{false};
  std::atomic<long> filtered{0}, passed{0}, torn{0}, bad_result{0};
  testutil::CaptureStdout quiet;
  auto hammer = [&] {
    while (!stop.load()) {
      testutil::PlaneFrame frame(W, H);
      frame.plane() = in;
      host::ObjectRef<host::HostVideoFrame> out;
      const int r = f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);
      if (r == 0) {
        ++filtered;
        if (frame.plane() != expected) ++torn;
      } else if (r == 1) {
        ++passed;
        if (frame.plane() != in && frame.plane() != expected) ++torn;
      } else {
        ++bad_result;
      }
    }
  };
  std::thread a(hammer), b(hammer);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  stop = true;
  a.join();
  b.join();
  quiet.Finish();
  EXPECT_GT(filtered.load(), 0);
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(bad_result.load(), 0);
}

}  // namespace
