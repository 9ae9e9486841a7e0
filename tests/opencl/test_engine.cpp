// clEngine: vendor choice, capability probes, printed lines, device limits
// and ScopedCost.  Cases that need a fresh OpenCL binding (a fake library,
// a persona) run in a re-executed child process.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "capture_stdout.h"
#include "child_case.h"
#include "engine_fixture.h"
#include "fake_cl_control.h"
#include "opencl/cl_dispatch.h"
#include "opencl/cl_engine.h"
#include "opencl/scoped_cost.h"

namespace {

using opencl::clEngine;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool Has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// ---- Child-process entry ---------------------------------------------------

TEST(OpenclChildCase, Entry) {
  // Does nothing unless this process was started by RunChildCase.
  testutil::RunChildCaseFromEnvironment();
}

// ---- Pure decisions ------------------------------------------------------------

struct VendorMatchCase {
  const char* deviceVendor;  // as the device reports it
  int code;
  bool matches;
};
void PrintTo(const VendorMatchCase& c, std::ostream* os) {
  *os << "[" << c.deviceVendor << "]_code" << c.code << (c.matches ? "_match" : "_no");
}

class VendorMatch : public ::testing::TestWithParam<VendorMatchCase> {};

TEST_P(VendorMatch, UpperCasedVendorTextAgainstNameOrAltName) {
  const VendorMatchCase c = GetParam();
  EXPECT_EQ(opencl::DeviceVendorMatches(opencl::AsciiUpper(c.deviceVendor), c.code), c.matches)
      << c.deviceVendor << " / " << c.code;
}

INSTANTIATE_TEST_SUITE_P(
    Table, VendorMatch,
    ::testing::Values(VendorMatchCase{"Advanced Micro Devices, Inc.", 2, true},
                      VendorMatchCase{"advanced micro devices", 2, true},
                      VendorMatchCase{"AMD", 2, true},
                      VendorMatchCase{"AuthenticAMD", 4, true},
                      VendorMatchCase{"GenuineIntel", 5, true},
                      VendorMatchCase{"Intel(R) Corporation", 6, true},
                      VendorMatchCase{"NVIDIA Corporation", 1, true},
                      VendorMatchCase{"ARM", 3, true},
                      VendorMatchCase{"QUALCOMM", 7, true},
                      VendorMatchCase{"Imagination Technologies", 8, true},
                      VendorMatchCase{"Apple", 9, true},
                      VendorMatchCase{"Intel(R) Corporation", 2, false},
                      VendorMatchCase{"NVIDIA Corporation", 6, false},
                      VendorMatchCase{"", 1, false}));

struct NameRuleCase {
  const char* deviceName;
  bool fp16Denied;
  int fixedSubgroup;
};
void PrintTo(const NameRuleCase& c, std::ostream* os) { *os << "[" << c.deviceName << "]"; }

class DeviceNameRules : public ::testing::TestWithParam<NameRuleCase> {};

TEST_P(DeviceNameRules, DenyListAndFixedSubgroup) {
  const NameRuleCase c = GetParam();
  EXPECT_EQ(opencl::Fp16Denied(c.deviceName), c.fp16Denied) << c.deviceName;
  EXPECT_EQ(opencl::FixedSubgroupSizeFor(c.deviceName), c.fixedSubgroup) << c.deviceName;
}

INSTANTIATE_TEST_SUITE_P(Table, DeviceNameRules,
                         ::testing::Values(NameRuleCase{"gfx902", true, 0},
                                           NameRuleCase{"AMD Radeon gfx902:xnack-", true, 0},
                                           NameRuleCase{"Baffin", true, 0},
                                           NameRuleCase{"baffin", false, 0},
                                           NameRuleCase{"gfx900", false, 0},
                                           NameRuleCase{"Mali-G76", false, 8},
                                           NameRuleCase{"Mali-G52 MC2", false, 8},
                                           NameRuleCase{"Mali-G72", false, 0},
                                           NameRuleCase{"", false, 0}));

struct OptionsCase {
  bool openCL2;
  bool fp16;
  int vendor;
  const char* options;
};
void PrintTo(const OptionsCase& c, std::ostream* os) {
  *os << "cl2_" << c.openCL2 << "_fp16_" << c.fp16 << "_vendor" << c.vendor;
}

class BuildOptions : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(BuildOptions, FixedOrderWithLeadingBlanks) {
  const OptionsCase c = GetParam();
  EXPECT_EQ(opencl::MakeBuildOptions(c.openCL2, c.fp16, c.vendor), c.options);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BuildOptions,
    ::testing::Values(OptionsCase{false, false, 0, ""}, OptionsCase{false, false, 5, ""},
                      OptionsCase{true, false, 1, " -cl-std=CL2.0"},
                      OptionsCase{false, true, 6, " -DHALF_FP"},
                      OptionsCase{true, false, 7, " -cl-std=CL2.0 -DQUALCOMM"},
                      OptionsCase{true, true, 7, " -cl-std=CL2.0 -DHALF_FP -DQUALCOMM"},
                      OptionsCase{false, false, 7, " -DQUALCOMM"}));

// ---- ScopedCost ----------------------------------------------------------------

TEST(ScopedCost, ExplicitEndThenScopeExitPrintsOnce) {
  testutil::CaptureStdout capture;
  {
    opencl::ScopedCost cost("--step");
    cost.End();
  }
  const std::vector<std::string> lines = Lines(capture.Finish());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(^--step cost:   \S+ms$)"))) << lines[0];
}

TEST(ScopedCost, WithoutAutoPrintNothingIsWritten) {
  testutil::CaptureStdout capture;
  { opencl::ScopedCost cost("--quiet", false); }
  EXPECT_EQ(capture.Finish(), "");
}

TEST(ScopedCost, LineFormat) {
  EXPECT_EQ(opencl::ScopedCost::FormatLine("--x", 1.5f), "--x cost:   1.5ms\n");
  EXPECT_EQ(opencl::ScopedCost::FormatLine("--x", 12.3456789f), "--x cost:   12.3457ms\n");
  EXPECT_EQ(opencl::ScopedCost::FormatLine("--x", 0.0f), "--x cost:   0ms\n");
}

// ---- The device of this machine --------------------------------------------

TEST(EngineOnCpuDevice, InitPrintsEveryProbeLine) {
  opencl::ProcessClTable();  // the loader log is not part of Init's output
  std::string vendorUpper;
  const int code = testutil::CpuVendorCode(&vendorUpper);
  if (code < 0) GTEST_SKIP() << "no CPU OpenCL device";
  cl_platform_id platform = nullptr;
  ASSERT_EQ(clGetPlatformIDs(1, &platform, nullptr), CL_SUCCESS);

  clEngine engine;
  testutil::CaptureStdout capture;
  const bool ok = engine.Init(code, true, false);
  const std::string out = capture.Finish();
  ASSERT_TRUE(ok) << engine.lastError << "\n" << out;
  EXPECT_TRUE(engine.initialized);
  EXPECT_EQ(engine.vendor, code);
  EXPECT_EQ(engine.buildOptions, "");
  EXPECT_FALSE(engine.openCL2);
  EXPECT_FALSE(engine.imageFromBuffer);
  // What the device reports (PoCL says 64 on some processors, 0 on others).
  cl_uint line = 0;
  ASSERT_EQ(clGetDeviceInfo(engine.device, CL_DEVICE_GLOBAL_MEM_CACHELINE_SIZE, sizeof(line), &line,
                            nullptr),
            CL_SUCCESS);
  EXPECT_EQ(engine.cacheLineSize, line);
  EXPECT_EQ(engine.pitchAlignment, 0u);
  EXPECT_GT(engine.maxWorkItemSizes[0], 0u);

  const std::vector<std::string> lines = Lines(out);
  const std::string cost = R"( cost:   \S+ms$)";
  std::vector<std::string> expected = {
      "^--clGetPlatformIDs 0" + cost,
      "^--clGetPlatformIDs 1" + cost,
      "Platform vendor: The pocl project",
      "Device Vendor:" + vendorUpper,
      "^--Detect platforms and devices" + cost,
      "Find prefered device:" + vendorUpper,
      "Device Not Support OpenCL 2.0 or obove !",
      "Device Not Support fp16 !",
      "Device Not Support Image from Buffer !",
      "Device Not Support QCOM ext host iocoherent !",
      "Device Not Support ARM import memroy Host !",
      "Device Not Support KHR subgroup !",
      "Cache line size:" + std::to_string(line),
      "Pitch alignment: 0 pixels",
      "Device Name:" + engine.deviceName,
      "Device Version:" + engine.deviceVersion,
      "^--clCreateContext" + cost,
      R"(^CL Image supported: [1-9][0-9]*$)",
  };
  if (engine.rgbaSnormInt8) expected.push_back("Device Support RGBA-SNORM_INT8 !");
  expected.push_back("Fixed Subgroup Size:0");
  ASSERT_EQ(lines.size(), expected.size()) << out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (expected[i][0] == '^') {
      EXPECT_TRUE(std::regex_match(lines[i], std::regex(expected[i]))) << lines[i];
    } else {
      EXPECT_EQ(lines[i], expected[i]);
    }
  }
  EXPECT_TRUE(engine.Release());
  EXPECT_TRUE(engine.Release());  // twice is harmless
}

TEST(EngineOnCpuDevice, AnyGpuFindsNoneWithoutPersona) {
  opencl::ProcessClTable();
  clEngine engine;
  testutil::CaptureStdout capture;
  EXPECT_FALSE(engine.Init(0, false, false));
  const std::string out = capture.Finish();
  EXPECT_EQ(engine.lastError, "Can not detect OpenCL platform!");
  EXPECT_FALSE(engine.initialized);
  EXPECT_TRUE(Has(out, "Platform vendor: The pocl project\n")) << out;
  EXPECT_FALSE(Has(out, "Device Vendor:")) << out;
}

// ---- Fake library with several platforms --------------------------------------

struct FakeControl {
  void* lib = nullptr;
  decltype(&fake_cl_reset) reset = nullptr;
  decltype(&fake_cl_add_platform) addPlatform = nullptr;
  decltype(&fake_cl_add_device) addDevice = nullptr;
  decltype(&fake_cl_device_ids_log) idsLog = nullptr;
  decltype(&fake_cl_last_context_device) lastContextDevice = nullptr;

  bool Load() {
    lib = dlopen(FAKE_CL_MULTI_PATH, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return false;
    reset = reinterpret_cast<decltype(reset)>(dlsym(lib, "fake_cl_reset"));
    addPlatform = reinterpret_cast<decltype(addPlatform)>(dlsym(lib, "fake_cl_add_platform"));
    addDevice = reinterpret_cast<decltype(addDevice)>(dlsym(lib, "fake_cl_add_device"));
    idsLog = reinterpret_cast<decltype(idsLog)>(dlsym(lib, "fake_cl_device_ids_log"));
    lastContextDevice =
        reinterpret_cast<decltype(lastContextDevice)>(dlsym(lib, "fake_cl_last_context_device"));
    if (!reset || !addPlatform || !addDevice || !idsLog || !lastContextDevice) return false;
    reset();
    return opencl::SetProcessClLibraryPaths({FAKE_CL_MULTI_PATH});
  }
  int Gpu(int platform, const char* vendor, const char* name = "gpu",
          const char* version = "OpenCL 1.2 fake", const char* ext = "") {
    return addDevice(platform, CL_DEVICE_TYPE_GPU, vendor, name, version, ext);
  }
};


OX_CHILD_CASE(DefaultOrderPrefersNvidiaOverEarlierIntel) {
  FakeControl fake;
  if (!fake.Load()) return 1;
  const int intelPlatform = fake.addPlatform("Intel(R) Corporation");
  fake.Gpu(intelPlatform, "Intel(R) Corporation", "Intel(R) UHD Graphics 630");
  const int nvPlatform = fake.addPlatform("NVIDIA Corporation");
  const int nv = fake.Gpu(nvPlatform, "NVIDIA Corporation", "NVIDIA GeForce RTX 2070");
  opencl::ProcessClTable();
  std::printf("--- init\n");
  clEngine engine;
  CHILD_CHECK(engine.Init(0, false, false));
  CHILD_CHECK(engine.vendor == 1);
  CHILD_CHECK(fake.lastContextDevice() == nv);
  CHILD_CHECK(engine.deviceName == "NVIDIA GeForce RTX 2070");
  return 0;
}

TEST(EngineWithFakePlatforms, DefaultOrderPrefersNvidiaOverEarlierIntel) {
  const testutil::ChildRun run = testutil::RunChildCase("DefaultOrderPrefersNvidiaOverEarlierIntel");
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string out = run.output.substr(run.output.find("--- init\n"));
  // Code 1 is scanned first: the Intel device is passed over once, the
  // NVIDIA one chosen.
  EXPECT_TRUE(Has(out,
                  "Platform vendor: Intel(R) Corporation\n"
                  "Device Vendor:INTEL(R) CORPORATION\n"
                  "Platform vendor: NVIDIA Corporation\n"
                  "Device Vendor:NVIDIA CORPORATION\n"))
      << out;
  EXPECT_TRUE(Has(out,
                  " Not prefered device, continuing......\n"
                  "Find prefered device:NVIDIA CORPORATION\n"))
      << out;
}

OX_CHILD_CASE(AmdPreferenceWithOnlyIntelGpu) {
  FakeControl fake;
  if (!fake.Load()) return 1;
  fake.Gpu(fake.addPlatform("Intel(R) Corporation"), "Intel(R) Corporation");
  clEngine engine;
  CHILD_CHECK(!engine.Init(2, false, false));
  CHILD_CHECK(engine.lastError == "Can not detect OpenCL platform!");
  CHILD_CHECK(fake.lastContextDevice() == -1);
  return 0;
}

TEST(EngineWithFakePlatforms, AmdPreferenceWithOnlyIntelGpuFails) {
  const testutil::ChildRun run = testutil::RunChildCase("AmdPreferenceWithOnlyIntelGpu");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run.output,
                  "Device Vendor:INTEL(R) CORPORATION\n"))
      << run.output;
  EXPECT_TRUE(Has(run.output, " Not prefered device, continuing......\n")) << run.output;
}

OX_CHILD_CASE(OnlySixPlatformsExamined) {
  FakeControl fake;
  if (!fake.Load()) return 1;
  // Seven platforms; only the seventh has an NVIDIA device.
  for (int i = 0; i < 6; ++i) fake.Gpu(fake.addPlatform("Intel(R) Corporation"), "Intel(R) Corporation");
  fake.Gpu(fake.addPlatform("NVIDIA Corporation"), "NVIDIA Corporation");
  clEngine engine;
  CHILD_CHECK(engine.Init(0, false, false));
  CHILD_CHECK(engine.vendor == 6);
  CHILD_CHECK(fake.idsLog(0, nullptr, nullptr, nullptr) == 6);
  return 0;
}

TEST(EngineWithFakePlatforms, OnlySixPlatformsExamined) {
  const testutil::ChildRun run = testutil::RunChildCase("OnlySixPlatformsExamined");
  ASSERT_EQ(run.status, 0) << run.output;
  size_t platformLines = 0;
  for (const std::string& l : Lines(run.output)) platformLines += l.rfind("Platform vendor: ", 0) == 0;
  EXPECT_EQ(platformLines, 6u) << run.output;
}

OX_CHILD_CASE(EightDevicesInAllClampedToRoomLeft) {
  FakeControl fake;
  if (!fake.Load()) return 1;
  // 3 + 4 devices, then a platform whose second device is the only NVIDIA
  // one: there is room for one more device only.
  const int p0 = fake.addPlatform("Intel(R) Corporation");
  for (int i = 0; i < 3; ++i) fake.Gpu(p0, "Intel(R) Corporation");
  const int p1 = fake.addPlatform("Intel(R) Corporation");
  for (int i = 0; i < 4; ++i) fake.Gpu(p1, "Intel(R) Corporation");
  const int p2 = fake.addPlatform("Mixed");
  const int lastIntel = fake.Gpu(p2, "Intel(R) Corporation");
  fake.Gpu(p2, "NVIDIA Corporation");
  // A fourth platform is not even asked once eight devices are recorded.
  fake.Gpu(fake.addPlatform("NVIDIA Corporation"), "NVIDIA Corporation");
  clEngine engine;
  CHILD_CHECK(engine.Init(0, false, false));
  CHILD_CHECK(engine.vendor == 6);
  CHILD_CHECK(fake.lastContextDevice() == 0);
  CHILD_CHECK(lastIntel == 7);
  const cl_uint room[3] = {8, 5, 1};
  CHILD_CHECK(fake.idsLog(0, nullptr, nullptr, nullptr) == 3);
  for (int i = 0; i < 3; ++i) {
    int platform = -1;
    cl_device_type type = 0;
    cl_uint entries = 0;
    fake.idsLog(i, &platform, &type, &entries);
    CHILD_CHECK(platform == i);
    CHILD_CHECK(type == CL_DEVICE_TYPE_GPU);
    CHILD_CHECK(entries == room[i]);
  }
  return 0;
}

TEST(EngineWithFakePlatforms, EightDevicesInAllClampedToRoomLeft) {
  const testutil::ChildRun run = testutil::RunChildCase("EightDevicesInAllClampedToRoomLeft");
  ASSERT_EQ(run.status, 0) << run.output;
  size_t deviceLines = 0;
  for (const std::string& l : Lines(run.output)) deviceLines += l.rfind("Device Vendor:", 0) == 0;
  EXPECT_EQ(deviceLines, 8u) << run.output;
  EXPECT_FALSE(Has(run.output, "NVIDIA")) << run.output;
}

OX_CHILD_CASE(Gfx902WithFp16HasNoHalfOption) {
  FakeControl fake;
  if (!fake.Load()) return 1;
  fake.Gpu(fake.addPlatform("Advanced Micro Devices, Inc."), "Advanced Micro Devices, Inc.",
           "gfx902", "OpenCL 1.2 AMD-APP", "cl_khr_fp16 cl_khr_image2d_from_buffer");
  clEngine engine;
  CHILD_CHECK(engine.Init(0, false, false));
  CHILD_CHECK(engine.vendor == 2);
  CHILD_CHECK(!engine.fp16);
  CHILD_CHECK(engine.imageFromBuffer);
  CHILD_CHECK(engine.buildOptions.empty());
  return 0;
}

TEST(EngineWithFakePlatforms, Gfx902WithFp16HasNoHalfOption) {
  const testutil::ChildRun run = testutil::RunChildCase("Gfx902WithFp16HasNoHalfOption");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run.output,
                  "Device Support fp16 !\n"
                  "Device Name is in fp16 Unsupported List, not Support fp16 !\n"
                  "Device Support Image from Buffer !\n"))
      << run.output;
}

// ---- Personas over the real device --------------------------------------------

OX_CHILD_CASE(PersonaInit) {
  if (!opencl::SetProcessClLibraryPaths({PERSONA_OPENCL_PATH})) return 1;
  opencl::ProcessClTable();
  std::printf("--- init\n");
  clEngine engine;
  const char* code = std::getenv("OXRIN_TEST_VENDOR");
  if (!engine.Init(code ? std::atoi(code) : 0, false, false)) {
    std::printf("lastError=%s\n", engine.lastError.c_str());
    return 3;
  }
  std::printf("vendor=%d\nbuildOptions=[%s]\nimageFromBuffer=%d\nfp16=%d\nfixedSubgroupSize=%d\n"
              "deviceName=[%s]\nhostAllocator=%d\n",
              engine.vendor, engine.buildOptions.c_str(), engine.imageFromBuffer ? 1 : 0,
              engine.fp16 ? 1 : 0, engine.fixedSubgroupSize, engine.deviceName.c_str(),
              engine.hostAllocator.device == engine.device ? 1 : 0);
  return 0;
}

testutil::ChildRun RunPersona(const std::string& persona, const std::string& vendor = "0") {
  return testutil::RunChildCase("PersonaInit",
                                {{"OXRIN_CL_PERSONA", persona}, {"OXRIN_TEST_VENDOR", vendor}});
}

TEST(EngineWithPersona, QualcommAtOpenCl2) {
  const testutil::ChildRun run = RunPersona("qualcomm");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run.output, "vendor=7\n")) << run.output;
  EXPECT_TRUE(Has(run.output, "buildOptions=[ -cl-std=CL2.0 -DQUALCOMM]\n")) << run.output;
  EXPECT_TRUE(Has(run.output, "imageFromBuffer=1\n")) << run.output;
  EXPECT_TRUE(Has(run.output, "hostAllocator=1\n")) << run.output;
  EXPECT_TRUE(Has(run.output, "Device Support OpenCL 2.0 or obove !\n")) << run.output;
  EXPECT_TRUE(Has(run.output, "Device Support Image from Buffer !\n")) << run.output;
}

TEST(EngineWithPersona, MaliG76HasFixedSubgroupOfEight) {
  const testutil::ChildRun run = RunPersona("arm");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run.output, "vendor=3\n")) << run.output;
  EXPECT_TRUE(Has(run.output, "Fixed Subgroup Size:8\n")) << run.output;
  EXPECT_TRUE(Has(run.output, "fixedSubgroupSize=8\n")) << run.output;
}

TEST(EngineWithPersona, NvidiaChosenByDefaultOrder) {
  const testutil::ChildRun run = RunPersona("nvidia");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run.output, "Find prefered device:NVIDIA CORPORATION\n")) << run.output;
  EXPECT_TRUE(Has(run.output, "deviceName=[NVIDIA GeForce RTX 2070]\n")) << run.output;
  EXPECT_TRUE(Has(run.output, "Fixed Subgroup Size:0\n")) << run.output;
}

TEST(EngineWithPersona, OverlongDeviceNameDoesNotCrash) {
  const std::string name(300, 'N');
  const testutil::ChildRun run = RunPersona("base=nvidia;name=" + name);
  ASSERT_EQ(run.status, 0) << run.output;
  // The name does not fit the 256-byte query: it reads as empty text.
  EXPECT_TRUE(Has(run.output, "deviceName=[]\n")) << run.output;
  EXPECT_TRUE(Has(run.output, "Device Name:\n")) << run.output;
}

}  // namespace
