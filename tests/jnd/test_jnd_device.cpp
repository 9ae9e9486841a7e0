// The JND filter on GPUs presented by the device persona (work-size tables,
// tuning, weight-set switching) and its binary cache on this machine's
// device.  Persona cases run in a fresh process each.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "child_case.h"
#include "jnd/jnd_filter.h"
#include "jnd/jnd_net_context.h"
#include "jnd_reference.h"
#include "jnd_test_env.h"

TEST(OpenclChildCase, Entry) { testutil::RunChildCaseFromEnvironment(); }

namespace {

const char* kPersonaLibrary = OXRIN_PERSONA_LIBRARY;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<uint8_t> Texture(int w, int h) {
  std::vector<uint8_t> p(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>((x * 5 + y * 11 + (x * y) % 7) & 0xFF);
  return p;
}

bool UsePersona() {
  if (!opencl::SetProcessClLibraryPaths({kPersonaLibrary})) return false;
  testutil::CaptureStdout quiet;
  opencl::ProcessClTable();
  return true;
}

// Filters one frame through a persona's GPU and reports the local sizes
// applied and whether the frame matches the reference.
OX_CHILD_CASE(JndWorkSizes) {
  if (!UsePersona()) return 1;
  std::vector<jnd::KernelGroupCfg> external;
  std::vector<std::string> labels;
  if (const char* row = std::getenv("OXRIN_TEST_EXTERNAL_ROW")) {
    jnd::KernelGroupCfg r;
    if (!jnd::ParseKernelGroupRow(row, &r, &labels)) return 2;
    external.push_back(r);
  }
  const int w = std::atoi(std::getenv("OXRIN_TEST_W")), h = std::atoi(std::getenv("OXRIN_TEST_H"));
  jnd::JndFilterCL filter;
  if (!filter.initialise(jnd::WeightsOf(jnd::kJndWeightSet2), "", 0, 0, external, true)) return 3;
  const std::vector<uint8_t> in = Texture(w, h);
  std::vector<uint8_t> plane = in;
  if (!filter.process(plane.data(), plane.data(), w, h, w, true)) return 4;
  for (int i = 0; i < 3; ++i) {
    const opencl::ClKernel& k = filter.kernel(i);
    std::printf("local%d=%zu,%zu,%zu\n", i + 1, k.local[0], k.local[1], k.local[2]);
  }
  const std::vector<uint8_t> ref = testref::Filter(testref::FromSet(jnd::kJndWeightSet2), in, w, h);
  int worst = 0;
  for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(int(ref[i]) - int(plane[i])));
  std::printf("worst=%d\n", worst);
  return 0;
}

testutil::ChildRun WorkSizes(const std::string& persona, int w, int h, const char* external = nullptr) {
  std::vector<std::pair<std::string, std::string>> env = {
      {"OXRIN_CL_PERSONA", persona}, {"OXRIN_TEST_W", std::to_string(w)}, {"OXRIN_TEST_H", std::to_string(h)}};
  if (external) env.push_back({"OXRIN_TEST_EXTERNAL_ROW", external});
  return testutil::RunChildCase("JndWorkSizes", env);
}

TEST(JndWorkSizes, ShippedRowsApplyByExactDeviceName) {
  const struct {
    const char* persona;
    const char* internal;
    const char* local1;
    const char* local2;
    const char* local3;
  } cases[] = {
      {"name=GeForce RTX 2070 SUPER;vendor=NVIDIA Corporation", "internal successfully",
       "local1=16,12,1", "local2=8,12,1", "local3=64,3,1"},
      // 192 is fitted to the largest divisor of conv1's global width 320.
      {"name=Intel(R) HD Graphics 620;vendor=Intel(R) Corporation", "internal successfully",
       "local1=160,1,1", "local2=2,90,1", "local3=1,72,1"},
      {"name=Intel(R) HD Graphics 620 ;vendor=Intel(R) Corporation", "internal failed", "", "", ""},
      {"name=intel(r) hd graphics 620;vendor=Intel(R) Corporation", "internal failed", "", "", ""},
  };
  for (const auto& c : cases) {
    const testutil::ChildRun run = WorkSizes(c.persona, 1280, 720);
    ASSERT_EQ(run.status, 0) << c.persona << "\n" << run.output;
    EXPECT_TRUE(Has(run.output, "total number of quant kernel cfg items:28\n")) << run.output;
    EXPECT_TRUE(Has(run.output, std::string("load_kernel_group_cfg ") + c.internal + " !\n")) << run.output;
    EXPECT_TRUE(Has(run.output, "load_kernel_group_cfg external failed !\n")) << run.output;
    EXPECT_TRUE(Has(run.output, c.local1)) << run.output;
    EXPECT_TRUE(Has(run.output, c.local2)) << run.output;
    EXPECT_TRUE(Has(run.output, c.local3)) << run.output;
    EXPECT_TRUE(Has(run.output, "worst=0\n") || Has(run.output, "worst=1\n") || Has(run.output, "worst=2\n"))
        << run.output;
  }
}

TEST(JndWorkSizes, ExternalRowsOverrideAndOversizedOnesAreSkipped) {
  const char* persona = "name=GeForce RTX 2070 SUPER;vendor=NVIDIA Corporation";
  const testutil::ChildRun over = WorkSizes(
      persona, 1280, 720,
      "{\"GeForce RTX 2070 SUPER\", \"x\", 3, {{\"conv1\", {8, 8, 1} },{\"conv2\", {4, 4, 1} },{\"conv3\", {2, 2, 1} }}};");
  ASSERT_EQ(over.status, 0) << over.output;
  EXPECT_TRUE(Has(over.output, "load_kernel_group_cfg external successfully !\n")) << over.output;
  EXPECT_TRUE(Has(over.output, "local1=8,8,1\nlocal2=4,4,1\nlocal3=2,2,1\n")) << over.output;

  const testutil::ChildRun huge = WorkSizes(
      persona, 1280, 720,
      "{\"GeForce RTX 2070 SUPER\", \"x\", 3, {{\"conv1\", {320, 720, 1} },{\"conv2\", {640, 360, 1} },{\"conv3\", {640, 360, 1} }}};");
  ASSERT_EQ(huge.status, 0) << huge.output;
  EXPECT_TRUE(Has(huge.output, "load_kernel_group_cfg external failed !\n")) << huge.output;
  EXPECT_TRUE(Has(huge.output, "local1=16,12,1")) << huge.output;  // the internal row stays
  EXPECT_TRUE(Has(huge.output, "worst=0\n") || Has(huge.output, "worst=1\n")) << huge.output;
}

TEST(JndWorkSizes, ImaginationKeepsItsFixedWorkGroupAndFilters) {
  const testutil::ChildRun run = WorkSizes("imagination", 854, 480);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run.output, "local1=8,4,1\n")) << run.output;
  EXPECT_TRUE(Has(run.output, "worst=0\n") || Has(run.output, "worst=1\n")) << run.output;
}

OX_CHILD_CASE(JndTuning) {
  if (!UsePersona()) return 1;
  jnd::JndFilterCL filter;
  {
    testutil::CaptureStdout quiet;
    if (!filter.initialise(jnd::WeightsOf(jnd::kJndWeightSet2), "", 2, 0, {}, true)) return 3;
  }
  std::vector<uint8_t> plane = Texture(64, 32);
  if (!filter.process(plane.data(), plane.data(), 64, 32, 64, true)) return 4;
  return plane == Texture(64, 32) ? 0 : 5;
}

TEST(JndTuningMode, MeasuresPrintsARowAndLeavesThePlane) {
  const testutil::ChildRun run = testutil::RunChildCase("JndTuning", {{"OXRIN_CL_PERSONA", "nvidia"}});
  ASSERT_EQ(run.status, 0) << run.output;
  const size_t t0 = run.output.find("Tuning Kernel0......\n");
  const size_t t1 = run.output.find("Tuning Kernel1......\n");
  const size_t t2 = run.output.find("Tuning Kernel2......\n");
  ASSERT_NE(t0, std::string::npos) << run.output;
  ASSERT_NE(t1, std::string::npos);
  ASSERT_NE(t2, std::string::npos);
  EXPECT_LT(t0, t1);
  EXPECT_LT(t1, t2);
  const size_t row_at = run.output.find("{\"NVIDIA GeForce RTX 2070\"", t2);
  ASSERT_NE(row_at, std::string::npos) << run.output;
  jnd::KernelGroupCfg row;
  std::vector<std::string> labels;
  ASSERT_TRUE(jnd::ParseKernelGroupRow(run.output.substr(row_at, run.output.find('\n', row_at) - row_at + 1),
                                       &row, &labels));
  EXPECT_EQ(row.kernelCount, 3);
  EXPECT_STREQ(row.kernels[2].label, "conv3");
  // conv1 covers 16 x 32 work items: each tuned size divides it.
  EXPECT_EQ(16 % row.kernels[0].local[0], 0u);
  EXPECT_EQ(32 % row.kernels[0].local[1], 0u);
}

OX_CHILD_CASE(JndContextIds) {
  if (!UsePersona()) return 1;
  jnd::JndNetContext context;
  {
    testutil::CaptureStdout quiet;
    if (!context.init(true)) return 3;
  }
  std::vector<uint8_t> plane = Texture(32, 16);
  const int ids[] = {2, 0, 0, 3, 3, 9, 4};
  for (int id : ids) {
    const int before = context.openclFilter()->weightUploads();
    std::printf("--- id %d\n", id);
    testutil::CaptureStdout noise;  // the filter's own lines are not under test here
    const bool ok = context.run(plane.data(), plane.data(), 32, 16, 32, id);
    const std::string lines = noise.Finish();
    std::printf("%s", lines.find("invalid JNDNetWeights ID,set to _paras27\n") != std::string::npos
                          ? "invalid JNDNetWeights ID,set to _paras27\n" : "");
    std::printf("ok=%d uploads=%d current=%d\n", ok ? 1 : 0,
                context.openclFilter()->weightUploads() - before, context.currentWeightsId());
  }
  return 0;
}

TEST(JndNetContextIds, SwitchesOncePerChangeAndReportsBadIdsOnce) {
  const testutil::ChildRun run = testutil::RunChildCase("JndContextIds", {{"OXRIN_CL_PERSONA", "nvidia"}});
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run.output,
                  "--- id 2\nok=1 uploads=0 current=2\n"
                  "--- id 0\ninvalid JNDNetWeights ID,set to _paras27\nok=1 uploads=1 current=0\n"
                  "--- id 0\nok=1 uploads=0 current=0\n"
                  "--- id 3\nok=1 uploads=1 current=3\n"
                  "--- id 3\nok=1 uploads=0 current=3\n"
                  "--- id 9\ninvalid JNDNetWeights ID,set to _paras27\nok=1 uploads=1 current=9\n"
                  "--- id 4\nok=1 uploads=1 current=4\n"))
      << run.output;
}

TEST(JndNetContextIds, WithoutAGpuInitialisationFails) {
  testutil::SelectOpenClLibrary();
  if (testutil::PersonaName()) GTEST_SKIP() << "runs without a GPU";
  jnd::JndNetContext context;
  testutil::CaptureStdout out;
  EXPECT_FALSE(context.init(true));
  std::vector<uint8_t> plane(16, 9);
  EXPECT_FALSE(context.run(plane.data(), plane.data(), 4, 4, 4, 3));
  EXPECT_TRUE(Has(out.Finish(), "update net paras failed, pls check\n"));
  EXPECT_EQ(plane, std::vector<uint8_t>(16, 9));
}

// Binary cache on this machine's own device.
TEST(JndBinaryCache, SecondInitialisationLoadsTheCachedProgram) {
  const int kind = testutil::TestDeviceKind();
  if (kind < 0) GTEST_SKIP() << "no OpenCL device";
  const std::string dir = ::testing::TempDir() + "jnd_cache_" + std::to_string(getpid());
  ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
  const std::string path = dir + "/jnd.bin";
  std::string second;
  std::string device;
  {
    jnd::JndFilterCL a;
    testutil::CaptureStdout out;
    ASSERT_TRUE(a.initialise(jnd::WeightsOf(jnd::kJndWeightSet2), path, 0, kind, {}, true));
    EXPECT_FALSE(Has(out.Finish(), "LoadCLKernel bin file successfully !\n"));
    device = a.engine().deviceName;
  }
  const std::string cache_file = dir + "/jnd_" + device + ".bin";
  EXPECT_TRUE(std::ifstream(cache_file).good()) << cache_file;
  {
    jnd::JndFilterCL b;
    testutil::CaptureStdout out;
    ASSERT_TRUE(b.initialise(jnd::WeightsOf(jnd::kJndWeightSet2), path, 0, kind, {}, true));
    std::vector<uint8_t> plane = Texture(24, 12);
    EXPECT_TRUE(b.process(plane.data(), plane.data(), 24, 12, 24, true));
    second = out.Finish();
  }
  EXPECT_TRUE(Has(second, "cl_bin_file:" + path + ", run_mode:0, prefer_dev_type:" + std::to_string(kind) + "\n"));
  EXPECT_TRUE(Has(second, "LoadCLKernel bin file successfully !\n")) << second;

  // A valid binary of another program: rebuilt and overwritten.
  {
    opencl::clEngine engine;
    testutil::CaptureStdout out;
    ASSERT_TRUE(engine.Init(kind, false, false));
    ASSERT_TRUE(engine.BuildFromSource("__kernel void other(__global float *a) { }\n", cache_file));
  }
  {
    jnd::JndFilterCL c;
    testutil::CaptureStdout out;
    ASSERT_TRUE(c.initialise(jnd::WeightsOf(jnd::kJndWeightSet2), path, 0, kind, {}, true));
    const std::string text = out.Finish();
    EXPECT_TRUE(Has(text, "Jnd Kernel need updated \n")) << text;
  }
  {
    jnd::JndFilterCL d;
    testutil::CaptureStdout out;
    ASSERT_TRUE(d.initialise(jnd::WeightsOf(jnd::kJndWeightSet2), path, 0, kind, {}, true));
    EXPECT_TRUE(Has(out.Finish(), "LoadCLKernel bin file successfully !\n"));
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
