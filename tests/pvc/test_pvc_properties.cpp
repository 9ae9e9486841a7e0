// "pvc_parameter" rules, the device profile table and the frame gates that
// need no device.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pvc/pvc_video_filter.h"
#include "pvc_fakes.h"
#include "tests/common/doc_text.h"

namespace {

using pvc::PVCVideoFilter;

struct PropertyCase {
  const char* value;
  int result;
  bool support;
  int config;
  bool enabled;
  int oneModel;
  const char* devicesId;
};

class PvcProperty : public ::testing::TestWithParam<PropertyCase> {};

TEST_P(PvcProperty, AppliesMembersInOrderAndStopsAtTheFirstBadOne) {
  const PropertyCase c = GetParam();
  PVCVideoFilter f;
  EXPECT_EQ(f.setProperty("pvc_parameter", c.value, std::strlen(c.value) + 1), c.result) << c.value;
  EXPECT_EQ(f.pvcSupport(), c.support) << c.value;
  EXPECT_EQ(f.pvcConfig(), c.config) << c.value;
  EXPECT_EQ(f.enabled(), c.enabled) << c.value;
  EXPECT_EQ(f.oneModel(), c.oneModel) << c.value;
  EXPECT_EQ(f.devicesId(), c.devicesId) << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PvcProperty,
    ::testing::Values(
        PropertyCase{R"({"DevicesId":"NVIDIA GeForce RTX 2070 SUPER"})", 0, true, 33554432, true, 0,
                     "NVIDIA GeForce RTX 2070 SUPER"},
        PropertyCase{R"({"DevicesId":"Intel(R) UHD Graphics 630 rev 2"})", 0, true, 33554432, true,
                     0, "Intel(R) UHD Graphics 630 rev 2"},
        PropertyCase{R"({"DevicesId":"Intel(R) HD Graphics 620"})", 0, false, 0, true, 0,
                     "Intel(R) HD Graphics 620"},
        PropertyCase{R"({"DevicesId":"nvidia geforce rtx 2070"})", 0, false, 0, true, 0,
                     "nvidia geforce rtx 2070"},
        PropertyCase{R"({"DevicesId":"NVIDIA GeForce RTX"})", 0, false, 0, true, 0,
                     "NVIDIA GeForce RTX"},
        PropertyCase{R"({"DevicesId":"Radeon RX 560X","PvcSupport":false})", 0, false, 33554432,
                     true, 0, "Radeon RX 560X"},
        PropertyCase{R"({"DevicesId":"Radeon RX 560X","PvcConfig":7})", 0, true, 7, true, 0,
                     "Radeon RX 560X"},
        PropertyCase{R"({"DevicesId":""})", 0, false, 0, true, 0, ""},
        PropertyCase{R"({"enable_pvc":false,"pvc_one_model":2})", 0, false, 0, false, 2, ""},
        PropertyCase{R"({"enable_pvc":1})", -1, false, 0, true, 0, ""},
        PropertyCase{R"({"PvcConfig":1.5})", -1, false, 0, true, 0, ""},
        PropertyCase{R"({"PvcConfig":4294967296})", -1, false, 0, true, 0, ""},
        PropertyCase{R"({"DevicesId":5,"PvcSupport":true})", -1, false, 0, true, 0, ""},
        PropertyCase{R"({"PvcSupport":true,"pvc_one_model":"2"})", -1, true, 0, true, 0, ""},
        PropertyCase{R"({"pvc_one_model":-3,"PvcSupport":true})", 0, true, 0, true, -3, ""},
        PropertyCase{R"({"unknown":1})", 0, false, 0, true, 0, ""},
        PropertyCase{"not json", -1, false, 0, true, 0, ""},
        PropertyCase{"", -1, false, 0, true, 0, ""},
        PropertyCase{R"([{"PvcSupport":true}])", -1, false, 0, true, 0, ""},
        PropertyCase{"true", -1, false, 0, true, 0, ""},
        PropertyCase{"42", -1, false, 0, true, 0, ""},
        PropertyCase{R"("PvcSupport")", -1, false, 0, true, 0, ""},
        PropertyCase{"null", -1, false, 0, true, 0, ""}));

// "Backend" and "CpuThreads": applied after the other members, in that
// order, a bad value stopping there; resolved when start creates the
// worker.  The GPU support gate does not hold frames back from the CPU
// backend (rows that start OpenCL never reach the worker: no OpenCL here).
struct BackendCase {
  const char* value;
  int result;
  pvc::BackendChoice choice;
  int threads;
  jnd::JndBackend started;
  int framesRead;  // of one frame fed after start
};

class PvcBackend : public ::testing::TestWithParam<BackendCase> {};

TEST_P(PvcBackend, ParsedThenResolvedAtStart) {
  const BackendCase c = GetParam();
  PVCVideoFilter f;
  EXPECT_EQ(f.setProperty("pvc_parameter", c.value, std::strlen(c.value) + 1), c.result) << c.value;
  EXPECT_EQ(f.backendChoice(), c.choice) << c.value;
  EXPECT_EQ(f.cpuThreads(), c.threads) << c.value;
  testutil::RecordingControl control;
  f.start(host::ObjectRef<host::FilterControl>(&control));
  const char* later = R"({"Backend":"auto","CpuThreads":5})";  // waits for the next start
  ASSERT_EQ(f.setProperty("pvc_parameter", later, std::strlen(later) + 1), 0);
  EXPECT_EQ(f.worker()->backend(), c.started) << c.value;
  EXPECT_EQ(f.worker()->cpuThreads(), c.threads) << c.value;
  testutil::PlaneFrame frame(64, 32);
  host::ObjectRef<host::HostVideoFrame> out;
  EXPECT_EQ(f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out), 1);
  EXPECT_EQ(frame.dataCalls.load(), c.framesRead) << c.value;
}

using pvc::BackendChoice;
constexpr jnd::JndBackend kCl = jnd::JndBackend::kOpenCL, kCpu = jnd::JndBackend::kCpu;
INSTANTIATE_TEST_SUITE_P(
    Cases, PvcBackend,
    ::testing::Values(
        BackendCase{"{}", 0, BackendChoice::kOpenCL, 1, kCl, 0},
        BackendCase{R"({"Backend":"opencl","CpuThreads":2})", 0, BackendChoice::kOpenCL, 2, kCl, 0},
        BackendCase{R"({"Backend":"cpu"})", 0, BackendChoice::kCpu, 1, kCpu, 1},
        BackendCase{R"({"CpuThreads":64,"Backend":"cpu","enable_pvc":false})", 0, BackendChoice::kCpu,
                    64, kCpu, 0},
        BackendCase{R"({"Backend":"auto","CpuThreads":2})", 0, BackendChoice::kAuto, 2, kCpu, 1},
        BackendCase{R"({"Backend":"auto","DevicesId":"Intel(R) HD Graphics 620"})", 0,
                    BackendChoice::kAuto, 1, kCpu, 1},
        BackendCase{R"({"Backend":"auto","DevicesId":"NVIDIA GeForce RTX 2070","enable_pvc":false})",
                    0, BackendChoice::kAuto, 1, kCl, 0},
        BackendCase{R"({"Backend":1})", -1, BackendChoice::kOpenCL, 1, kCl, 0},
        BackendCase{R"({"Backend":"gpu"})", -1, BackendChoice::kOpenCL, 1, kCl, 0},
        BackendCase{R"({"Backend":"CPU"})", -1, BackendChoice::kOpenCL, 1, kCl, 0},
        BackendCase{R"({"Backend":null})", -1, BackendChoice::kOpenCL, 1, kCl, 0},
        BackendCase{R"({"CpuThreads":"2"})", -1, BackendChoice::kOpenCL, 1, kCl, 0},
        BackendCase{R"({"CpuThreads":0})", -1, BackendChoice::kOpenCL, 1, kCl, 0},
        BackendCase{R"({"CpuThreads":65})", -1, BackendChoice::kOpenCL, 1, kCl, 0},
        BackendCase{R"({"CpuThreads":1.5})", -1, BackendChoice::kOpenCL, 1, kCl, 0},
        BackendCase{R"({"CpuThreads":4294967298})", -1, BackendChoice::kOpenCL, 1, kCl, 0},
        BackendCase{R"({"Backend":"cpu","CpuThreads":0})", -1, BackendChoice::kCpu, 1, kCpu, 1},
        BackendCase{R"({"CpuThreads":3,"Backend":"x","enable_pvc":false})", -1,
                    BackendChoice::kOpenCL, 1, kCl, 0},
        BackendCase{R"({"pvc_one_model":"2","Backend":"cpu"})", -1, BackendChoice::kOpenCL, 1, kCl,
                    0}));

TEST(PvcPropertyKeys, OnlyPvcParameterIsHandled) {
  PVCVideoFilter f;
  const char* profile = "{\"PvcSupport\":true, \"PvcConfig\":33554432}";
  EXPECT_EQ(f.setProperty("pvc_device_profile", profile, 40), 0);
  EXPECT_EQ(f.setProperty("PVC_parameter", profile, 40), 0);
  EXPECT_FALSE(f.pvcSupport());
  EXPECT_EQ(f.setProperty("", profile, 40), -1);
  EXPECT_EQ(f.setProperty(nullptr, profile, 40), -1);
  EXPECT_EQ(f.setProperty("pvc_parameter", nullptr, 40), -1);
  // The internal profile step answers its own key only.
  EXPECT_EQ(f.setDeviceProfileProperty("other", profile, 40), 0);
  EXPECT_FALSE(f.pvcSupport());
  EXPECT_EQ(f.setDeviceProfileProperty("pvc_device_profile", profile, 40), 0);
  EXPECT_TRUE(f.pvcSupport());
  EXPECT_EQ(f.pvcConfig(), 33554432);
  EXPECT_EQ(f.setDeviceProfileProperty("pvc_device_profile", "", 1), -1);
}

// A device profile sets PvcSupport and PvcConfig with the rules of
// "pvc_parameter" and leaves every other member alone, even a bad one.
TEST(PvcDeviceProfile, ReadsOnlyTheProfileMembers) {
  const struct {
    const char* value;
    int result;
    bool support;
    int config;
  } cases[] = {
      {R"({"PvcSupport":true,"PvcConfig":9})", 0, true, 9},
      {R"({"PvcConfig":9,"enable_pvc":false,"Backend":"cpu","DevicesId":"x","CpuThreads":2})", 0,
       false, 9},
      {R"({"enable_pvc":1,"Backend":7})", 0, false, 0},
      {R"({"PvcSupport":1,"PvcConfig":9})", -1, false, 0},
      {R"({"PvcSupport":true,"PvcConfig":"9"})", -1, true, 0},
      {"[]", -1, false, 0},
  };
  for (const auto& c : cases) {
    PVCVideoFilter f;
    EXPECT_EQ(f.setDeviceProfileProperty("pvc_device_profile", c.value, 0), c.result) << c.value;
    EXPECT_EQ(f.pvcSupport(), c.support) << c.value;
    EXPECT_EQ(f.pvcConfig(), c.config) << c.value;
    EXPECT_TRUE(f.enabled()) << c.value;
    EXPECT_EQ(f.backendChoice(), pvc::BackendChoice::kOpenCL) << c.value;
    EXPECT_EQ(f.cpuThreads(), 1) << c.value;
    EXPECT_EQ(f.devicesId(), "") << c.value;
  }
}

TEST(PvcDeviceTable, LongestPrefixWins) {
  EXPECT_STREQ(pvc::ProfileForDevice("AMD Radeon(TM) Vega 10 Mobile Graphics X"),
               "{\"PvcSupport\":true, \"PvcConfig\":33554432}");
  EXPECT_STREQ(pvc::ProfileForDevice("Radeon (TM) 52"), "");
  EXPECT_STREQ(pvc::ProfileForDevice(""), "");
}

// README.md shows every row of the parameter table, in the order the rows
// are applied, as "- `KEY` (TYPE, default VALUE): MEANING".
[[maybe_unused]] std::string ReadmeLine(const pvc::ParameterInfo& p) {
  std::string type, initial;
  switch (p.type) {
    case pvc::ParameterType::kString:
      type = "string";
      initial = "\"\"";
      break;
    case pvc::ParameterType::kBool:
      type = "bool";
      initial = p.defaultValue ? "true" : "false";
      break;
    case pvc::ParameterType::kInt32:
      type = "int32";
      if (p.minValue != INT32_MIN || p.maxValue != INT32_MAX)
        type += " " + std::to_string(p.minValue) + ".." + std::to_string(p.maxValue);
      initial = std::to_string(p.defaultValue);
      break;
    case pvc::ParameterType::kChoice:
      type = "string";
      for (int i = 0; i < p.choiceCount; ++i)
        type += std::string(i == 0 ? " " : i + 1 == p.choiceCount ? " or " : ", ") + "`\"" +
                p.choices[i] + "\"`";
      initial = std::string("\"") + p.choices[p.defaultValue] + "\"";
      break;
  }
  return std::string("- `") + p.key + "` (" + type + ", default `" + initial + "`): " + p.help;
}

TEST(PvcParameterTable, ReadmeListsEveryMemberInOrder) {
#ifndef OXRIN_README_PATH
  GTEST_SKIP() << "README.md is checked by the POSIX build";
#else
  const std::string readme = testutil::ReadCollapsed(OXRIN_README_PATH);
  ASSERT_FALSE(readme.empty()) << OXRIN_README_PATH;
  std::vector<std::string> lines;
  for (const pvc::ParameterInfo& p : pvc::ParameterTable()) lines.push_back(ReadmeLine(p));
  for (const std::string& line : testutil::MissingInOrder(readme, lines))
    ADD_FAILURE() << "README.md lacks, or lists out of order:\n" << line;
#endif
}

TEST(PvcStatusMessages, EveryStatusHasItsText) {
  const struct {
    int status;
    const char* text;
  } cases[] = {{-1, "pvc: PVC input modelId ranges from 0 to 4."},
               {-2, "pvc: PVC library error, skip."},
               {-3, "init PVC with async worker."},
               {-4, "PVC worker busy with warm up."},
               {-5, "PVC params changed, do warm up."},
               {-6, "PVC filter process error."},
               {-7, "PVC process failed."},
               {9, "PVC process failed."}};
  for (const auto& c : cases) EXPECT_STREQ(pvc::StatusMessage(c.status), c.text) << c.status;
}

TEST(PvcResolution, LandscapeUpTo720pPortraitUpTo720x1280) {
  pvc::PvcWorker w;
  const struct {
    int w, h;
    bool ok;
  } cases[] = {{1280, 720, true},  {720, 1280, true},   {0, 0, true},      {1281, 720, false},
               {1280, 721, false}, {721, 1280, false},  {1280, 1280, false}, {1920, 1080, false},
               {720, 720, true},   {-5, 100, true},     {2, 1, true}};
  for (const auto& c : cases) EXPECT_EQ(w.isResolutionSupported(c.w, c.h, 0), c.ok) << c.w << "x" << c.h;
}

TEST(PvcFrames, GatesBeforeTheWorker) {
  PVCVideoFilter f;
  testutil::PlaneFrame frame(64, 32);
  host::ObjectRef<host::HostVideoFrame> out;
  // Empty input.
  EXPECT_EQ(f.processFrame(host::ObjectRef<host::HostVideoFrame>(), out), 1);
  // No device support (the initial state): not even the frame data is read.
  EXPECT_EQ(f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out), 1);
  EXPECT_EQ(frame.dataCalls.load(), 0);
  EXPECT_EQ(frame.refs.load(), 0);
  // Supported but not started.
  ASSERT_EQ(f.setProperty("pvc_parameter", R"({"PvcSupport":true})", 20), 0);
  EXPECT_EQ(f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out), 1);
  EXPECT_EQ(frame.dataCalls.load(), 0);
  EXPECT_FALSE(out);

  testutil::RecordingControl control;
  f.start(host::ObjectRef<host::FilterControl>(&control));
  EXPECT_EQ(control.refs.load(), 1);
  ASSERT_EQ(control.lines().size(), 1u);
  EXPECT_EQ(control.lines()[0], "4 pvc: PVCVideoFilter start");

  // Too large, and sizes no plane can have, are not processed.
  testutil::PlaneFrame big(1920, 1080), negative(-4, 8), no_plane(0, 0);
  for (testutil::PlaneFrame* fr : {&big, &negative}) {
    control.clear();
    EXPECT_EQ(f.processFrame(host::ObjectRef<host::HostVideoFrame>(fr), out), 1);
    const auto lines = control.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "1 pvc:Resolution not support");
    EXPECT_EQ(fr->refs.load(), 0);
  }
  EXPECT_EQ(control.lines()[0], "1 pvc:Resolution width -4,height 8");
  control.clear();
  EXPECT_EQ(f.processFrame(host::ObjectRef<host::HostVideoFrame>(&no_plane), out), 1);
  EXPECT_EQ(control.lines().back(), "1 pvc:Resolution not support");

  // Switched off: nothing read.
  ASSERT_EQ(f.setProperty("pvc_parameter", R"({"enable_pvc":false})", 22), 0);
  const int calls = frame.dataCalls.load();
  EXPECT_EQ(f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out), 1);
  EXPECT_EQ(frame.dataCalls.load(), calls);
}

// Frames of zero width or height pass the worker's size rule but hold no
// pixel: answered "not processed" with no error line, frame after frame.
TEST(PvcFrames, ZeroSizedFramesPassWithoutAnErrorLine) {
  PVCVideoFilter f;
  ASSERT_EQ(f.setProperty("pvc_parameter", R"({"Backend":"cpu"})", 18), 0);
  testutil::RecordingControl control;
  f.start(host::ObjectRef<host::FilterControl>(&control));
  host::ObjectRef<host::HostVideoFrame> out;
  testutil::PlaneFrame first(64, 32);  // sets the CPU backend up
  EXPECT_EQ(f.processFrame(host::ObjectRef<host::HostVideoFrame>(&first), out), 1);
  uint8_t pixels[64] = {};
  const struct {
    int w, h;
  } cases[] = {{0, 8}, {8, 0}, {0, 0}};
  for (const auto& c : cases) {
    testutil::PlaneFrame frame(c.w, c.h);
    frame.nullPlane = pixels;  // a plane pointer, as a host may still pass one
    for (int i = 0; i < 3; ++i) {
      control.clear();
      EXPECT_EQ(f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out), 1)
          << c.w << "x" << c.h;
      EXPECT_FALSE(out);
      EXPECT_EQ(frame.refs.load(), 0);
      for (const std::string& line : control.lines())
        EXPECT_NE(line.compare(0, 2, "4 "), 0) << c.w << "x" << c.h << ": " << line;
    }
  }
  f.stop();
}

}  // namespace
