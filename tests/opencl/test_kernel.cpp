// ClKernel: work-size rules, launches, tuning, profiling and failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <dlfcn.h>

#include "capture_stdout.h"
#include "child_case.h"
#include "engine_fixture.h"
#include "opencl/cl_kernel.h"
#include "tools/persona/persona_api.h"

namespace {

using opencl::ClKernel;

// ---- Work sizes (no device needed) -----------------------------------------------

struct GlobalCase {
  size_t global[3];
  size_t workGroup;
  size_t maxItems[3];
  size_t fixedLocal[3];
  size_t local[3];
};
void PrintTo(const GlobalCase& c, std::ostream* os) {
  *os << c.global[0] << "x" << c.global[1] << "x" << c.global[2] << "_wg" << c.workGroup
      << "_fixed" << c.fixedLocal[0] << "x" << c.fixedLocal[1] << "x" << c.fixedLocal[2];
}

class GlobalSizeRule : public ::testing::TestWithParam<GlobalCase> {};

TEST_P(GlobalSizeRule, LargestDivisorWithinBudgetXFirst) {
  const GlobalCase c = GetParam();
  ClKernel k;
  k.kernelWorkGroupSize = c.workGroup;
  for (int d = 0; d < 3; ++d) {
    k.maxItems[d] = c.maxItems[d];
    k.fixedLocal[d] = c.fixedLocal[d];
  }
  k.SetGlobalSize(c.global);
  for (int d = 0; d < 3; ++d) {
    EXPECT_EQ(k.global[d], c.global[d]);
    EXPECT_EQ(k.local[d], c.local[d]) << "dimension " << d;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, GlobalSizeRule,
    ::testing::Values(GlobalCase{{1280, 720, 1}, 256, {256, 256, 256}, {0, 0, 0}, {256, 1, 1}},
                      GlobalCase{{30, 7, 1}, 64, {64, 64, 64}, {0, 0, 0}, {30, 1, 1}},
                      GlobalCase{{16, 8, 1}, 64, {4096, 4096, 4096}, {0, 0, 0}, {16, 4, 1}},
                      GlobalCase{{7, 7, 7}, 16, {16, 16, 16}, {0, 0, 0}, {7, 1, 1}},
                      GlobalCase{{1280, 720, 1}, 256, {256, 256, 256}, {8, 0, 0}, {8, 30, 1}},
                      GlobalCase{{1024, 1, 1}, 1024, {64, 64, 64}, {0, 0, 0}, {64, 1, 1}},
                      GlobalCase{{1001, 7, 1}, 4096, {4096, 4096, 4096}, {0, 0, 0}, {1001, 1, 1}},
                      GlobalCase{{12, 12, 4}, 0, {64, 64, 64}, {0, 0, 0}, {1, 1, 1}}));

TEST(LocalSizeRule, OneByOneByOneGlobalLocksTheWish) {
  ClKernel k;
  k.kernelWorkGroupSize = 256;
  for (size_t& m : k.maxItems) m = 256;
  const size_t wish[3] = {8, 4, 2};
  k.SetLocalSize(wish);
  EXPECT_TRUE(k.localLocked);
  EXPECT_EQ(k.local[0], 8u);
  EXPECT_EQ(k.local[1], 4u);
  EXPECT_EQ(k.local[2], 2u);
  k.SetGlobalSize(64, 64, 1);  // locked: local stays
  EXPECT_EQ(k.local[0], 8u);
  EXPECT_EQ(k.local[1], 4u);
  EXPECT_EQ(k.global[0], 64u);
}

TEST(LocalSizeRule, DivisorOfGlobalNotAboveWishThenFixedOverrides) {
  ClKernel k;
  k.kernelWorkGroupSize = 4096;
  for (size_t& m : k.maxItems) m = 4096;
  k.SetGlobalSize(30, 7, 1);
  const size_t wish[3] = {8, 0, 3};
  k.fixedLocal[1] = 5;
  k.SetLocalSize(wish);
  EXPECT_FALSE(k.localLocked);
  EXPECT_EQ(k.local[0], 6u);  // largest divisor of 30 not above 8
  EXPECT_EQ(k.local[1], 5u);  // forced, even though 5 does not divide 7
  EXPECT_EQ(k.local[2], 1u);
}

TEST(KernelArgs, SizesByKind) {
  const size_t sizes[5] = {2, 4, 4, 8, 0};
  for (int kind = 0; kind < 5; ++kind) EXPECT_EQ(opencl::KernelArgSize(kind), sizes[kind]);
  ClKernel k;
  k.SetArgInt(3, 7);  // grows with zeroed short slots
  ASSERT_EQ(k.args.size(), 4u);
  EXPECT_EQ(k.args[0].kind, 0);
  EXPECT_EQ(k.args[3].kind, 1);
  k.args[0].kind = 9;
  EXPECT_FALSE(k.SetArgs(-1));  // unknown kind: refused before any call
}

TEST(ProfileLine, ExactFormat) {
  const std::string label = "conv1:1280x720";
  EXPECT_EQ(opencl::FormatProfileLine("conv1", "1280x720", 1000000, 1500000, 4000000, 4250000),
            label + std::string(80 - label.size(), ' ') +
                " SUB-QUE  0.5         ms STA-SUB  2.5         ms END-STA  0.25        ms\n");
  // Differences are unsigned: a clock going backwards shows as a wrap.
  EXPECT_EQ(opencl::FormatProfileLine("k", "", 10, 9, 9, 9),
            "k:" + std::string(78, ' ') +
                " SUB-QUE  1.84467e+13 ms STA-SUB  0           ms END-STA  0           ms\n");
}

// ---- Launches on the device -------------------------------------------------------

const char* const kSource =
    "__kernel void cover(__global int* hits, int gx, int gy, int gz) {\n"
    "  int x = get_global_id(0), y = get_global_id(1), z = get_global_id(2);\n"
    "  if (x < gx && y < gy && z < gz) atomic_add(&hits[(z * gy + y) * gx + x], 1);\n"
    "}\n"
    "__kernel void noop(__global int* p) { if (get_global_id(0) == 100000) p[0] = 1; }\n";

class KernelOnDevice : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    engine_ = new opencl::clEngine();
    ready_ = testutil::InitOnCpu(*engine_, true) && engine_->BuildFromSource(kSource, "");
  }
  static void TearDownTestSuite() {
    delete engine_;
    engine_ = nullptr;
  }
  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "no OpenCL CPU device";
  }

  // Runs cover over the given size and returns the hit counts.
  std::vector<int> Cover(size_t gx, size_t gy, size_t gz, size_t fixedX, bool* ok) {
    std::vector<int> hits(gx * gy * gz, 0);
    cl_mem buf = engine_->CreateBuffer(hits.size() * sizeof(int),
                                       CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, hits.data());
    ClKernel k;
    testutil::CaptureStdout quiet;
    *ok = buf != nullptr && k.Init(engine_, "cover", "cover", true);
    k.fixedLocal[0] = fixedX;
    k.SetArgMem(0, buf);
    k.SetArgInt(1, static_cast<int32_t>(gx));
    k.SetArgInt(2, static_cast<int32_t>(gy));
    k.SetArgInt(3, static_cast<int32_t>(gz));
    *ok = *ok && k.SetArgs(-1);
    k.SetGlobalSize(gx, gy, gz);
    *ok = *ok && k.Run(false, true, true);
    *ok = *ok && clEnqueueReadBuffer(engine_->queue, buf, CL_TRUE, 0, hits.size() * sizeof(int),
                                     hits.data(), 0, nullptr, nullptr) == CL_SUCCESS;
    if (buf) clReleaseMemObject(buf);
    return hits;
  }

  static opencl::clEngine* engine_;
  static bool ready_;
};
opencl::clEngine* KernelOnDevice::engine_ = nullptr;
bool KernelOnDevice::ready_ = false;

TEST_F(KernelOnDevice, EveryItemWrittenExactlyOnce) {
  struct Case {
    size_t gx, gy, gz, fixedX;
  };
  // The last two force a local size that does not divide the global size,
  // so the launch is rounded up and the kernel's bounds check matters.
  const Case cases[] = {{30, 7, 1, 0}, {1001, 7, 1, 0}, {5, 3, 4, 0}, {1001, 7, 1, 16},
                        {30, 7, 3, 4}};
  for (const Case& c : cases) {
    bool ok = false;
    const std::vector<int> hits = Cover(c.gx, c.gy, c.gz, c.fixedX, &ok);
    ASSERT_TRUE(ok) << c.gx << "x" << c.gy << "x" << c.gz;
    size_t wrong = 0;
    for (int h : hits) wrong += h != 1;
    EXPECT_EQ(wrong, 0u) << c.gx << "x" << c.gy << "x" << c.gz << " fixed " << c.fixedX;
  }
}

TEST_F(KernelOnDevice, InitReportsWorkGroupSizeOrMissingKernel) {
  ClKernel k;
  testutil::CaptureStdout capture;
  EXPECT_TRUE(k.Init(engine_, "noop", "step", true));
  EXPECT_FALSE(k.Init(engine_, "nope", "step", false));
  const std::string out = capture.Finish();
  EXPECT_TRUE(std::regex_match(out, std::regex("noop kernel work group size:[1-9][0-9]*\n"
                                               "Can not find kernel nope\n")))
      << out;
  EXPECT_EQ(k.maxItems[0], engine_->maxWorkItemSizes[0]);
}

TEST_F(KernelOnDevice, UnsetArgumentFailsTheRun) {
  ClKernel k;
  testutil::CaptureStdout capture;
  ASSERT_TRUE(k.Init(engine_, "cover", "cover", true));  // a fresh kernel object
  k.SetGlobalSize(4, 1, 1);
  EXPECT_FALSE(k.Run(true, true, true));
  const std::string out = capture.Finish();
  EXPECT_NE(out.find("CL_INVALID_KERNEL_ARGS\n"), std::string::npos) << out;
  EXPECT_EQ(k.event, nullptr);  // nothing to wait for or read
}

TEST_F(KernelOnDevice, EveryFailedArgumentIsReported) {
  ClKernel k;
  testutil::CaptureStdout capture;
  ASSERT_TRUE(k.Init(engine_, "noop", "noop", true));
  k.SetArgInt(0, 5);  // wrong size for a pointer argument
  k.SetArgInt(1, 5);  // no such argument
  EXPECT_FALSE(k.SetArgs(-1));
  const std::string out = capture.Finish();
  EXPECT_EQ(out, "noop kernel work group size:" + std::to_string(k.kernelWorkGroupSize) +
                     "\nCL_INVALID_ARG_SIZE\nCL_INVALID_ARG_INDEX\n");
}

TEST_F(KernelOnDevice, TuneKeepsADivisorOfTheGlobalSize) {
  bool ok = false;
  std::vector<int> hits(16 * 8, 0);
  cl_mem buf = engine_->CreateBuffer(hits.size() * sizeof(int),
                                     CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, hits.data());
  ASSERT_NE(buf, nullptr);
  for (size_t multiple : {size_t{0}, size_t{4}}) {
    ClKernel k;
    testutil::CaptureStdout quiet;
    ok = k.Init(engine_, "cover", "cover", true);
    k.SetArgMem(0, buf);
    k.SetArgInt(1, 16);
    k.SetArgInt(2, 8);
    k.SetArgInt(3, 1);
    ok = ok && k.SetArgs(-1);
    k.SetGlobalSize(16, 8, 1);
    k.tuneMultiple = multiple;
    ok = ok && k.Tune();
    quiet.Finish();
    ASSERT_TRUE(ok);
    EXPECT_LT(k.bestTuneNs, UINT64_MAX) << "no candidate was timed";
    EXPECT_EQ(16 % k.local[0], 0u);
    EXPECT_EQ(8 % k.local[1], 0u);
    EXPECT_EQ(k.local[2], 1u);
    if (multiple == 4) {
      EXPECT_EQ(k.local[0] * k.local[1] % 4, 0u);
    }
  }
  clReleaseMemObject(buf);
}

TEST_F(KernelOnDevice, ImageCopyRunnerCopiesAndDoesNotTune) {
  const unsigned char pixels[6] = {1, 2, 3, 4, 5, 6};
  cl_image_format format{CL_R, CL_UNORM_INT8};
  cl_image_desc desc{};
  desc.image_type = CL_MEM_OBJECT_IMAGE2D;
  desc.image_width = 3;
  desc.image_height = 2;
  cl_int status = CL_SUCCESS;
  cl_mem image = clCreateImage(engine_->context, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, &format,
                               &desc, const_cast<unsigned char*>(pixels), &status);
  ASSERT_NE(image, nullptr) << status;
  cl_mem buf = engine_->CreateBuffer(6, CL_MEM_READ_WRITE, nullptr);
  ClKernel k;
  ASSERT_TRUE(k.Init(engine_, "img_copy_to_buf", "copy", false));
  EXPECT_EQ(k.kernel, nullptr);
  EXPECT_FALSE(k.Tune());
  k.SetArgMem(0, image);
  k.SetArgMem(1, buf);
  k.SetArgInt(2, 3);
  k.SetArgInt(3, 2);
  EXPECT_TRUE(k.Run(true, false, true));
  unsigned char out[6] = {0};
  ASSERT_EQ(clEnqueueReadBuffer(engine_->queue, buf, CL_TRUE, 0, 6, out, 0, nullptr, nullptr),
            CL_SUCCESS);
  EXPECT_EQ(std::vector<unsigned char>(out, out + 6), std::vector<unsigned char>(pixels, pixels + 6));
  clReleaseMemObject(buf);
  clReleaseMemObject(image);
}

TEST_F(KernelOnDevice, PrintProfileAfterProfiledRun) {
  ClKernel k;
  testutil::CaptureStdout quiet;
  ASSERT_TRUE(k.Init(engine_, "noop", "noop", true));
  cl_mem buf = engine_->CreateBuffer(4, CL_MEM_READ_WRITE, nullptr);
  k.SetArgMem(0, buf);
  ASSERT_TRUE(k.SetArgs());
  k.detail = "64x1";
  k.SetGlobalSize(64, 1, 1);
  ASSERT_TRUE(k.Run(true, true, false));
  quiet.Finish();
  EXPECT_NE(k.event, nullptr);
  EXPECT_LE(k.queuedNs, k.submitNs);
  EXPECT_LE(k.startNs, k.endNs);
  testutil::CaptureStdout capture;
  k.PrintProfile();
  const std::string line = capture.Finish();
  EXPECT_TRUE(std::regex_match(
      line, std::regex("noop:64x1 {71} SUB-QUE  [0-9.e+-]+ *ms STA-SUB  [0-9.e+-]+ *ms "
                       "END-STA  [0-9.e+-]+ *ms\n")))
      << line;
  EXPECT_EQ(line.size(), 80u + 3 * (10 + 12 + 2) + 1) << line;
  clReleaseMemObject(buf);
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
    status.ignore(4096, '\n');
  }
  return -1;
}

TEST_F(KernelOnDevice, ManyProfiledRunsKeepMemoryFlat) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer holds freed memory back; leaks are its own report here";
#endif
  ClKernel k;
  {
    testutil::CaptureStdout quiet;
    ASSERT_TRUE(k.Init(engine_, "noop", "noop", true));
  }
  cl_mem buf = engine_->CreateBuffer(4, CL_MEM_READ_WRITE, nullptr);
  k.SetArgMem(0, buf);
  ASSERT_TRUE(k.SetArgs());
  k.SetGlobalSize(1, 1, 1);
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(k.Run(true, false, false));
  const long before = ResidentKiB();
  for (int i = 0; i < 10000; ++i) ASSERT_TRUE(k.Run(true, false, false));
  const long after = ResidentKiB();
  ASSERT_GT(before, 0);
  // A leaked event per run would cost several MiB over 10,000 runs.
  EXPECT_LT(after - before, 1024) << before << " KiB -> " << after << " KiB";
  clReleaseMemObject(buf);
}

// ---- Through the persona library: enqueue counts, live objects, faults ------------


struct Persona {
  persona_counter_fn liveObjects = nullptr;
  persona_counter_fn enqueues = nullptr;
  persona_fail_fn failCall = nullptr;
  bool Load() {
    if (!opencl::SetProcessClLibraryPaths({PERSONA_OPENCL_PATH})) return false;
    void* lib = dlopen(PERSONA_OPENCL_PATH, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return false;
    liveObjects = reinterpret_cast<persona_counter_fn>(dlsym(lib, "persona_live_objects"));
    enqueues = reinterpret_cast<persona_counter_fn>(dlsym(lib, "persona_enqueue_count"));
    failCall = reinterpret_cast<persona_fail_fn>(dlsym(lib, "persona_fail_call"));
    return liveObjects && enqueues && failCall;
  }
};

// Sets up an engine on the real device behind the persona, with the noop
// kernel bound to a small buffer.
struct PersonaRig {
  Persona persona;
  opencl::clEngine engine;
  cl_mem buf = nullptr;
  bool Up() {
    if (!persona.Load() || !testutil::InitOnCpu(engine, true)) return false;
    testutil::CaptureStdout quiet;
    if (!engine.BuildFromSource(kSource, "")) return false;
    buf = engine.CreateBuffer(64, CL_MEM_READ_WRITE, nullptr);
    return buf != nullptr;
  }
  bool Bind(ClKernel& k, size_t gx, size_t gy) {
    testutil::CaptureStdout quiet;
    if (!k.Init(&engine, "noop", "noop", true)) return false;
    k.SetArgMem(0, buf);
    k.SetGlobalSize(gx, gy, 1);
    return k.SetArgs();
  }
};

OX_CHILD_CASE(KernelRunsCountedAndEventsReleased) {
  PersonaRig rig;
  if (!rig.Up()) return 1;
  const long liveBefore = rig.persona.liveObjects();
  {
    ClKernel k;
    CHILD_CHECK(rig.Bind(k, 8, 1));
    const long enqueuedBefore = rig.persona.enqueues();
    for (int i = 0; i < 50; ++i) CHILD_CHECK(k.Run(true, false, false));
    for (int i = 0; i < 50; ++i) CHILD_CHECK(k.Run(false, false, i == 49));
    CHILD_CHECK(rig.persona.enqueues() - enqueuedBefore == 100);
    // The created kernel object and the latest event are all that remain.
    CHILD_CHECK(rig.persona.liveObjects() - liveBefore == 2);
    CHILD_CHECK(k.Tune());
    CHILD_CHECK(rig.persona.liveObjects() - liveBefore == 2);
  }
  CHILD_CHECK(rig.persona.liveObjects() - liveBefore == 1);  // the kernel stays with the engine
  clReleaseMemObject(rig.buf);
  rig.engine.Release();
  std::printf("live after release: %ld\n", rig.persona.liveObjects());
  return 0;
}

TEST(KernelThroughPersona, RunsAreCountedAndEventsReleased) {
  const testutil::ChildRun run =
      testutil::RunChildCase("KernelRunsCountedAndEventsReleased", {{"OXRIN_CL_PERSONA", ""}});
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "live after release: 0\n");
}

OX_CHILD_CASE(KernelFailedEnqueueSkipsWaits) {
  PersonaRig rig;
  if (!rig.Up()) return 1;
  ClKernel k;
  CHILD_CHECK(rig.Bind(k, 8, 1));
  CHILD_CHECK(k.Run(true, true, true));
  const uint64_t endBefore = k.endNs;
  std::printf("--- failing enqueue\n");
  rig.persona.failCall("clEnqueueNDRangeKernel", 1, CL_OUT_OF_RESOURCES);
  CHILD_CHECK(!k.Run(true, true, true));
  CHILD_CHECK(k.event == nullptr);
  CHILD_CHECK(k.endNs == endBefore);
  std::printf("--- failing finish\n");
  rig.persona.failCall("clFinish", 1, CL_OUT_OF_HOST_MEMORY);
  CHILD_CHECK(!k.Run(false, false, true));  // a later failure is not hidden
  std::printf("--- failing profile read\n");
  rig.persona.failCall("clGetEventProfilingInfo", 2, CL_PROFILING_INFO_NOT_AVAILABLE);
  CHILD_CHECK(!k.Run(true, false, false));
  std::printf("--- tune with one unreadable candidate\n");
  rig.persona.failCall("clGetEventProfilingInfo", 1, CL_PROFILING_INFO_NOT_AVAILABLE);
  CHILD_CHECK(k.Tune());
  CHILD_CHECK(8 % k.local[0] == 0);
  CHILD_CHECK(k.bestTuneNs != UINT64_MAX);
  rig.persona.failCall(nullptr, 0, 0);
  clReleaseMemObject(rig.buf);
  return 0;
}

TEST(KernelThroughPersona, EveryFailureReportedAndNothingWaitedAfterFailedEnqueue) {
  const testutil::ChildRun run =
      testutil::RunChildCase("KernelFailedEnqueueSkipsWaits", {{"OXRIN_CL_PERSONA", ""}});
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output,
            "--- failing enqueue\n"
            "CL_OUT_OF_RESOURCES\n"
            "--- failing finish\n"
            "CL_OUT_OF_HOST_MEMORY\n"
            "--- failing profile read\n"
            "CL_PROFILING_INFO_NOT_AVAILABLE\n"
            "--- tune with one unreadable candidate\n"
            "CL_PROFILING_INFO_NOT_AVAILABLE\n");
}

}  // namespace
