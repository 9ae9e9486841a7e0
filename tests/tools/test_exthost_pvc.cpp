// exthost with the perceptual filter on real video: on a GPU (this
// machine's device presented by the persona) or, without one, on the CPU
// backend, the first two frames pass unchanged and every later one is
// filtered like the reference network; oversized frames pass unchanged, and
// so does everything on OpenCL without a GPU.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "jnd_reference.h"
#include "tests/common/shell.h"

namespace {

using testutil::ReadFile;
using testutil::Shell;

const std::string kBin = OXRIN_BIN_DIR;
const std::string kTestData = OXRIN_TESTDATA_DIR;

class ExtHostPvc : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg not installed";
  }
  std::string Clip(const std::string& size, int frames) {
    const std::string out = ::testing::TempDir() + "pvc_" + std::to_string(getpid()) + "_" + size + ".y4m";
    const std::string source = kTestData + "/Megamind.avi";
    const std::string input = std::ifstream(source).good() ? "-ss 3 -i " + source
                                                           : "-f lavfi -i testsrc2=size=320x240:rate=25";
    std::string dims = size;
    dims[dims.find('x')] = ':';
    EXPECT_EQ(std::system(("ffmpeg -v error -y " + input + " -vf scale=" + dims +
                           " -pix_fmt yuv420p -frames:v " + std::to_string(frames) +
                           " -f yuv4mpegpipe " + out).c_str()),
              0);
    return out;
  }
};

// Frame payloads of a Y4M file (each without its FRAME line).
std::vector<std::string> Frames(const std::string& y4m, size_t frame_bytes) {
  std::vector<std::string> frames;
  size_t pos = y4m.find('\n') + 1;
  while (pos < y4m.size()) {
    const size_t data = y4m.find('\n', pos) + 1;
    frames.push_back(y4m.substr(data, frame_bytes));
    pos = data + frame_bytes;
  }
  return frames;
}

// The first two frames unchanged, every later one filtered with weight set
// 3 like the reference network, chroma untouched everywhere.
void ExpectFilteredFromTheThirdFrame(const std::string& in, const std::string& out, int w, int h,
                                     int n) {
  const size_t luma = static_cast<size_t>(w) * h, bytes = luma * 3 / 2;
  const std::vector<std::string> src = Frames(ReadFile(in), bytes);
  const std::vector<std::string> dst = Frames(ReadFile(out), bytes);
  ASSERT_EQ(src.size(), static_cast<size_t>(n));
  ASSERT_EQ(dst.size(), static_cast<size_t>(n));
  EXPECT_EQ(dst[0], src[0]);
  EXPECT_EQ(dst[1], src[1]);
  const testref::Net net = testref::FromSet(jnd::kJndWeightSet3);
  for (int f = 2; f < n; ++f) {
    std::vector<uint8_t> y(src[f].begin(), src[f].begin() + luma);
    const std::vector<uint8_t> ref = testref::Filter(net, y, w, h);
    size_t over1 = 0;
    int worst = 0;
    for (size_t i = 0; i < luma; ++i) {
      const int d = std::abs(int(static_cast<uint8_t>(dst[f][i])) - int(ref[i]));
      worst = std::max(worst, d);
      over1 += d > 1;
    }
    EXPECT_LE(worst, 2) << "frame " << f + 1;
    EXPECT_LE(over1 * 1000, luma) << "frame " << f + 1;
    EXPECT_NE(dst[f].substr(0, luma), src[f].substr(0, luma)) << "frame " << f + 1 << " unfiltered";
    EXPECT_EQ(dst[f].substr(luma), src[f].substr(luma)) << "chroma changed in frame " << f + 1;
  }
}

TEST_F(ExtHostPvc, FiltersRealVideoFromTheThirdFrameOnAGpu) {
  const int w = 1280, h = 720, n = 4;
  const std::string in = Clip("1280x720", n), out = in + ".out";
  std::string err;
  ASSERT_EQ(Shell(kBin + "/exthost --ext pvc --persona nvidia --quiet -i " + in + " -o " + out, &err), 0)
      << err;
  EXPECT_NE(err.find("processed:          2 (result 0)"), std::string::npos) << err;
  EXPECT_NE(err.find("init PVC with async worker."), std::string::npos) << err;
  EXPECT_NE(err.find("PVC params changed, do warm up."), std::string::npos) << err;
  ExpectFilteredFromTheThirdFrame(in, out, w, h, n);
}

TEST_F(ExtHostPvc, OversizedFramesPassUnchanged) {
  const std::string in = Clip("1920x1080", 3), out = in + ".out";
  std::string err;
  ASSERT_EQ(Shell(kBin + "/exthost --ext pvc --persona nvidia --quiet -i " + in + " -o " + out, &err), 0)
      << err;
  EXPECT_EQ(ReadFile(out), ReadFile(in));
  EXPECT_NE(err.find("passed through:     3"), std::string::npos) << err;
}

// --backend and --threads: where each run goes, what it says, and how bad
// values are refused.
struct BackendRun {
  const char* options;
  int exitCode;
  bool filtered;      // frames 3 and 4 filtered, else every frame unchanged
  const char* says[3];  // texts on standard error
};

class ExtHostPvcBackend : public ExtHostPvc, public ::testing::WithParamInterface<BackendRun> {};

TEST_P(ExtHostPvcBackend, RunsWhereItSays) {
  const BackendRun& r = GetParam();
  const int w = 640, h = 360, n = 4;
  const std::string in = Clip("640x360", n), out = in + ".out";
  std::remove(out.c_str());
  std::string err;
  ASSERT_EQ(Shell(kBin + "/exthost --ext pvc --quiet " + r.options + " -i " + in + " -o " + out, &err),
            r.exitCode)
      << r.options << "\n" << err;
  for (const char* text : r.says) {
    if (text == nullptr) continue;
    EXPECT_NE(err.find(text), std::string::npos) << r.options << ": " << text << "\n" << err;
  }
  if (r.exitCode != 0) {
    EXPECT_FALSE(std::ifstream(out).good()) << r.options;
  } else if (r.filtered) {
    EXPECT_NE(err.find("processed:          2 (result 0)"), std::string::npos) << err;
    ExpectFilteredFromTheThirdFrame(in, out, w, h, n);
  } else {
    EXPECT_EQ(ReadFile(out), ReadFile(in)) << r.options;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ExtHostPvcBackend,
    ::testing::Values(
        // No GPU, default backend: the CPU, one thread per core.
        BackendRun{"", 0, true,
                   {"exthost: pvc on the CPU (no OpenCL GPU device found), ",
                    "  backend:            CPU, ", "     1  pvc: JND on the CPU, path "}},
        BackendRun{"--backend cpu --threads 2", 0, true,
                   {"exthost: pvc on the CPU (--backend cpu), 2 threads\n",
                    "  backend:            CPU, 2 threads (--backend cpu)\n", ", 2 threads\n"}},
        BackendRun{"--persona nvidia --backend cpu --threads 1", 0, true,
                   {"pvc on the CPU (--backend cpu), 1 thread\n", ", 1 thread\n", nullptr}},
        BackendRun{"--persona nvidia", 0, true,
                   {"exthost: pvc on OpenCL (an OpenCL GPU found), GPU \"NVIDIA GeForce RTX 2070\"",
                    "  backend:            OpenCL (GPU \"NVIDIA GeForce RTX 2070\")", nullptr}},
        // OpenCL without a GPU: the library error on every frame after the first.
        BackendRun{"--backend opencl", 0, false,
                   {"no OpenCL GPU device found", "     3  pvc: PVC library error, skip.",
                    "  backend:            OpenCL (no OpenCL GPU device found)"}},
        BackendRun{"--backend gpu", 1, false,
                   {"exthost: --backend needs auto, opencl or cpu, got \"gpu\"\n", nullptr, nullptr}},
        BackendRun{"--threads 0", 1, false,
                   {"exthost: --threads needs a count from 1 to 64, got \"0\"\n", nullptr, nullptr}},
        BackendRun{"--threads 65", 1, false, {"--threads needs a count from 1 to 64, got \"65\"", nullptr, nullptr}},
        BackendRun{"--threads 1.5", 1, false, {"--threads needs a count from 1 to 64, got \"1.5\"", nullptr, nullptr}},
        BackendRun{"--threads two", 1, false, {"--threads needs a count from 1 to 64, got \"two\"", nullptr, nullptr}}));

TEST_F(ExtHostPvc, CpuOutputDoesNotDependOnTheThreads) {
  const std::string in = Clip("640x360", 4);
  std::string err;
  for (const char* threads : {"1", "2"}) {
    ASSERT_EQ(Shell(kBin + "/exthost --ext pvc --quiet --backend cpu --threads " + threads + " -i " + in +
                        " -o " + in + ".t" + threads,
                    &err),
              0)
        << err;
  }
  EXPECT_EQ(ReadFile(in + ".t2"), ReadFile(in + ".t1"));
  EXPECT_NE(ReadFile(in + ".t1"), ReadFile(in));
}

}  // namespace
