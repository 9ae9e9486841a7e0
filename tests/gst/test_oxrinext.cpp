// The oxrinext element as gst-launch-1.0 runs it: frames come out byte for
// byte as exthost writes them for the same input (padded strides and NV12
// included), and every bad setting ends in an error on the bus and a
// failed state change.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/common/shell.h"

namespace {

using testutil::ReadFile;
using testutil::Shell;

const std::string kBin = OXRIN_BIN_DIR;
const std::string kPluginDir = OXRIN_GST_PLUGIN_DIR;  // "" where the plugin is not built
const std::string kGstLaunch = OXRIN_GST_LAUNCH;      // "...-NOTFOUND" where absent
// The AddressSanitizer runtime gst-launch-1.0 preloads for a plugin built
// with it: "" in other builds, "not found" where the build could not tell.
const std::string kAsanRuntime = OXRIN_ASAN_RUNTIME;
constexpr char kNotPrerolled[] = "ERROR: pipeline doesn't want to preroll.";

struct Row {
  const char* name;
  const char* format;  // I420 or NV12
  int width, height, frames;
  bool convert;         // videoconvert in front of the element
  const char* element;  // oxrinext's settings
  const char* exthost;  // exthost options giving the same frames; null: an error row
  int passed;           // leading frames the filter passes through unchanged
  int status;           // gst-launch-1.0's exit status
  const char* error;    // text on standard error
  const char* message;  // a bus message gst-launch-1.0 -m prints ("": none checked)
};

constexpr char kPvcStatus[] =
    "from element \"oxrinext0\" (element): oxrinext-status, filter=(string)pvc, level=(int)4, "
    "text=(string)\"init\\ PVC\\ with\\ async\\ worker.\";";

const Row kRows[] = {
    {"pvc_720p", "I420", 1280, 720, 60, false,
     "extension=pvc properties='pvc_parameter={\"Backend\":\"cpu\"}'", "--ext pvc --backend cpu", 2,
     0, "", kPvcStatus},
    {"fisheye_remap_720p", "I420", 1280, 720, 60, false,
     "extension=fisheye properties='fishCorrection={\"enable\":1,\"remap\":1}'",
     "--ext fisheye --property 'fishCorrection={\"enable\":1,\"remap\":1}'", 0, 0, "", ""},
    {"pvc_padded_642x360", "I420", 642, 360, 10, true,
     "extension=pvc "
     "properties='pvc_parameter={\"Backend\":\"cpu\"};pvc_parameter={\"CpuThreads\":2}'",
     "--ext pvc --backend cpu", 2, 0, "", kPvcStatus},
    {"fisheye_padded_321x241", "I420", 321, 241, 10, true,
     "extension=fisheye properties='fishCorrection={\"enable\":1,\"remap\":1}'",
     "--ext fisheye --property 'fishCorrection={\"enable\":1,\"remap\":1}'", 0, 0, "", ""},
    {"fisheye_nv12_321x241", "NV12", 321, 241, 10, false,
     "extension=fisheye properties='fishCorrection={\"enable\":1,\"remap\":1}'",
     "--ext fisheye --property 'fishCorrection={\"enable\":1,\"remap\":1}'", 0, 0, "", ""},
    {"unknown_extension", "I420", 320, 240, 3, false, "extension=nosuch", nullptr, 0, 255,
     "unknown extension \"nosuch\": use pvc, fisheye or the path of an extension library", ""},
    {"missing_library", "I420", 320, 240, 3, false, "extension=/nonexistent/libnosuch.so", nullptr,
     0, 255, "cannot load /nonexistent/libnosuch.so: ", ""},
    {"malformed_property", "I420", 320, 240, 3, false,
     "extension=pvc properties='pvc_parameter={\"Backend\":\"cpu\"'", nullptr, 0, 255,
     "malformed properties: unbalanced braces, brackets or quotes", ""},
    {"pair_without_value", "I420", 320, 240, 3, false, "extension=pvc properties=pvc_parameter",
     nullptr, 0, 255, "malformed properties: \"pvc_parameter\" is not KEY=VALUE", ""},
    {"rejected_property", "I420", 320, 240, 3, false,
     "extension=pvc properties='pvc_parameter={\"Backend\":\"gpu\"}'", nullptr, 0, 255,
     "filter pvc rejected property pvc_parameter={\"Backend\":\"gpu\"} (result -1)", ""},
    {"caps_too_large", "I420", 1920, 1080, 3, false, "extension=pvc", nullptr, 0, 1,
     "filter pvc cannot take 1920x1080 frames: it takes at most 1280x720", ""},
};

void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

int RoundUp(int v, int n) { return (v + n - 1) / n * n; }

// Planar 4:2:0 frames from a file of raw GStreamer buffers in the default
// layout (rows padded to 4 bytes, luma plane of an even row count).
std::vector<std::string> Unpad(const std::string& raw, const Row& r) {
  const bool nv12 = std::string(r.format) == "NV12";
  const int w = r.width, h2 = RoundUp(r.height, 2), cw = (w + 1) / 2, ch = (r.height + 1) / 2;
  const int s0 = RoundUp(w, 4), s1 = nv12 ? s0 : RoundUp(cw, 4);
  const size_t size =
      static_cast<size_t>(s0) * h2 + static_cast<size_t>(s1) * h2 / 2 * (nv12 ? 1 : 2);
  EXPECT_EQ(raw.size(), size * r.frames);
  std::vector<std::string> frames;
  for (size_t off = 0; off + size <= raw.size(); off += size) {
    const char* f = raw.data() + off;
    std::string y, u, v;
    for (int row = 0; row < r.height; ++row) y.append(f + row * s0, w);
    const char* c = f + static_cast<size_t>(s0) * h2;
    for (int row = 0; row < ch; ++row) {
      for (int x = 0; x < cw; ++x) {
        u += nv12 ? c[row * s1 + 2 * x] : c[row * s1 + x];
        v += nv12 ? c[row * s1 + 2 * x + 1] : c[static_cast<size_t>(s1) * h2 / 2 + row * s1 + x];
      }
    }
    frames.push_back(y + u + v);
  }
  return frames;
}

// The frames of a Y4M stream of planar 4:2:0 frames of `size` bytes.
std::vector<std::string> Y4mFrames(const std::string& y4m, size_t size) {
  std::vector<std::string> frames;
  for (size_t pos = y4m.find('\n'); pos != std::string::npos && pos + 1 < y4m.size();) {
    const size_t data = y4m.find('\n', pos + 1);
    if (data == std::string::npos || data + 1 + size > y4m.size()) break;
    frames.push_back(y4m.substr(data + 1, size));
    pos = data + size;
  }
  return frames;
}

class OxrinExt : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    if (kPluginDir.empty())
      GTEST_SKIP()
          << "GStreamer development packages not found when configuring: oxrinext not built";
    if (access(kGstLaunch.c_str(), X_OK) != 0) GTEST_SKIP() << "gst-launch-1.0 not installed";
    if (kAsanRuntime == "not found")
      GTEST_SKIP() << "plugin built with AddressSanitizer, whose runtime gst-launch-1.0 would need";
    setenv("GST_PLUGIN_PATH", kPluginDir.c_str(), 1);
    setenv("GST_REGISTRY", OXRIN_GST_REGISTRY, 1);
  }
  std::string Tmp(const std::string& name) {
    return ::testing::TempDir() + "oxrinext_" + std::to_string(getpid()) + "_" + GetParam().name +
           name;
  }
  // Runs videotestsrc (and the element, when given) into a file of raw
  // buffers; the exit status, standard error in *err, the bus messages in
  // the file Tmp("_messages.txt").
  int Launch(const Row& r, const std::string& element, const std::string& out, std::string* err) {
    // GStreamer's own allocations outlive gst-launch-1.0; only the plugin
    // is under test, so the leak check stays off for it.
    const std::string launcher =
        kAsanRuntime.empty()
            ? kGstLaunch
            : "LD_PRELOAD=" + kAsanRuntime + " ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" " + kGstLaunch;
    const std::string cmd =
        launcher + " -m videotestsrc num-buffers=" + std::to_string(r.frames) +
        " pattern=zone-plate kx2=20 ky2=20 kt=1 ! video/x-raw,format=" + r.format +
        ",width=" + std::to_string(r.width) + ",height=" + std::to_string(r.height) +
        (r.convert ? " ! videoconvert" : "") + (element.empty() ? "" : " ! oxrinext " + element) +
        " ! filesink location=" + out + " >" + Tmp("_messages.txt");
    return Shell(cmd, err);
  }
};

TEST_P(OxrinExt, RunsLikeExthostOrFailsClearly) {
  const Row& r = GetParam();
  std::string err;
  const std::string out = Tmp("_out.raw");
  ASSERT_EQ(Launch(r, r.element, out, &err), r.status) << err;
  const std::string messages = ReadFile(Tmp("_messages.txt"));
  std::remove(Tmp("_messages.txt").c_str());
  EXPECT_NE(messages.find(r.message), std::string::npos) << messages;
  if (r.exthost == nullptr) {
    EXPECT_NE(
        err.find(std::string("ERROR: from element /GstPipeline:pipeline0/GstOxrinExt:oxrinext0: ") +
                 r.error),
        std::string::npos)
        << err;
    EXPECT_NE(err.find(kNotPrerolled), std::string::npos) << err;
    std::remove(out.c_str());
    return;
  }
  // The same frames unfiltered, as Y4M for exthost.
  const std::string in_raw = Tmp("_in.raw"), in_y4m = Tmp("_in.y4m"), ref = Tmp("_ref.y4m");
  ASSERT_EQ(Launch(r, "", in_raw, &err), 0) << err;
  const std::vector<std::string> input = Unpad(ReadFile(in_raw), r);
  {
    std::ofstream y4m(in_y4m, std::ios::binary);
    y4m << "YUV4MPEG2 W" << r.width << " H" << r.height << " F30:1 Ip A1:1 C420jpeg\n";
    for (const std::string& f : input) y4m << "FRAME\n" << f;
  }
  const std::string cmd = kBin + "/exthost " + r.exthost + " --quiet -i " + in_y4m + " -o " + ref;
  ASSERT_EQ(Shell(cmd, &err), 0) << cmd << "\n" << err;

  const size_t size = static_cast<size_t>(r.width) * r.height +
                      2 * static_cast<size_t>((r.width + 1) / 2) * ((r.height + 1) / 2);
  const std::vector<std::string> got = Unpad(ReadFile(out), r),
                                 want = Y4mFrames(ReadFile(ref), size);
  ASSERT_EQ(got.size(), static_cast<size_t>(r.frames));
  ASSERT_EQ(want.size(), got.size());
  for (int i = 0; i < r.frames; ++i) {
    EXPECT_TRUE(got[i] == want[i]) << "frame " << i + 1 << " differs from exthost's";
    EXPECT_EQ(got[i] != input[i], i >= r.passed) << "frame " << i + 1;
  }
  for (const std::string& f : {out, in_raw, in_y4m, ref, Tmp("_messages.txt")})
    std::remove(f.c_str());
}

INSTANTIATE_TEST_SUITE_P(Rows, OxrinExt, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
