// exthost with the perceptual filter on real video: on a GPU (this
// machine's device presented by the persona) the first two frames pass
// unchanged and every later one is filtered like the reference network;
// oversized frames and machines without a GPU pass everything unchanged.
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

TEST_F(ExtHostPvc, FiltersRealVideoFromTheThirdFrameOnAGpu) {
  const int w = 1280, h = 720, n = 4;
  const std::string in = Clip("1280x720", n), out = in + ".out";
  std::string err;
  ASSERT_EQ(Shell(kBin + "/exthost --ext pvc --persona nvidia --quiet -i " + in + " -o " + out, &err), 0)
      << err;
  EXPECT_NE(err.find("processed:          2 (result 0)"), std::string::npos) << err;
  EXPECT_NE(err.find("init PVC with async worker."), std::string::npos) << err;
  EXPECT_NE(err.find("PVC params changed, do warm up."), std::string::npos) << err;

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

TEST_F(ExtHostPvc, OversizedFramesPassUnchanged) {
  const std::string in = Clip("1920x1080", 3), out = in + ".out";
  std::string err;
  ASSERT_EQ(Shell(kBin + "/exthost --ext pvc --persona nvidia --quiet -i " + in + " -o " + out, &err), 0)
      << err;
  EXPECT_EQ(ReadFile(out), ReadFile(in));
  EXPECT_NE(err.find("passed through:     3"), std::string::npos) << err;
}

TEST_F(ExtHostPvc, WithoutAGpuEveryFramePassesAndTheErrorIsCounted) {
  const std::string in = Clip("640x360", 4), out = in + ".out";
  std::string err;
  ASSERT_EQ(Shell(kBin + "/exthost --ext pvc --quiet -i " + in + " -o " + out, &err), 0) << err;
  EXPECT_EQ(ReadFile(out), ReadFile(in));
  EXPECT_NE(err.find("no OpenCL GPU device found"), std::string::npos) << err;
  EXPECT_NE(err.find("     3  pvc: PVC library error, skip."), std::string::npos) << err;
}

}  // namespace
