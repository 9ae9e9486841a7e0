// exthost as a user runs it: streams through the fisheye extension come out
// byte for byte, bad streams give one clear line and exit status 2 with
// every complete frame kept.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/common/shell.h"

namespace {

using testutil::ReadFile;
using testutil::Shell;

const std::string kBin = OXRIN_BIN_DIR;
const std::string kTestData = OXRIN_TESTDATA_DIR;

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

class ExtHost : public ::testing::Test {
 protected:
  // Per-process names: ctest may run several of these tests at once.
  std::string Tmp(const std::string& name) {
    return ::testing::TempDir() + "exthost_" + std::to_string(getpid()) + "_" + name;
  }
  std::string exthost = kBin + "/exthost";

  // A real clip in Y4M, decoded from the shared test video (or ffmpeg's
  // own test pattern when that is absent).
  std::string MakeClip(const std::string& name, const std::string& size, int frames,
                       const std::string& pix_fmt = "yuv420p") {
    const std::string out = Tmp(name);
    const std::string source = kTestData + "/Megamind.avi";
    const std::string input = std::ifstream(source).good()
                                  ? "-i " + source
                                  : "-f lavfi -i testsrc2=size=320x240:rate=25";
    const std::string cmd = "ffmpeg -v error -y " + input + " -vf scale=" + size +
                            " -pix_fmt " + pix_fmt + " -frames:v " + std::to_string(frames) +
                            " -f yuv4mpegpipe -strict -1 " + out;
    EXPECT_EQ(Shell(cmd), 0) << cmd;
    return out;
  }
};

TEST_F(ExtHost, FisheyeOutputIsByteIdenticalToItsInput) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  for (const char* size : {"720:528", "321:241", "2:2", "1:1"}) {
    std::string sz = size;
    const std::string clip = MakeClip("clip_" + sz.replace(sz.find(':'), 1, "x") + ".y4m", size, 7);
    const std::string out = clip + ".out";
    std::string err;
    ASSERT_EQ(Shell(exthost + " --ext fisheye --quiet -i " + clip + " -o " + out, &err), 0) << err;
    EXPECT_EQ(ReadFile(out), ReadFile(clip)) << size;
    EXPECT_NE(err.find("frames in:          7"), std::string::npos) << err;
    EXPECT_NE(err.find("processed:          7"), std::string::npos) << err;
  }
}

TEST_F(ExtHost, SitsInAPipeBetweenDecoderAndEncoder) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const std::string clip = MakeClip("pipe_src.y4m", "320:240", 5);
  const std::string out = Tmp("pipe_out.y4m");
  std::string err;
  ASSERT_EQ(Shell("cat " + clip + " | " + exthost + " --ext fisheye -i - -o - > " + out, &err), 0)
      << err;
  EXPECT_EQ(ReadFile(out), ReadFile(clip));
}

TEST_F(ExtHost, BuiltInClipIsDeterministic) {
  const std::string a = Tmp("builtin_a.y4m"), b = Tmp("builtin_b.y4m");
  std::string err;
  ASSERT_EQ(Shell(exthost + " --ext fisheye --frames 3 -o " + a, &err), 0) << err;
  ASSERT_EQ(Shell(exthost + " --ext fisheye --frames 3 -o " + b), 0);
  const std::string bytes = ReadFile(a);
  EXPECT_EQ(bytes, ReadFile(b));
  const std::string header = "YUV4MPEG2 W1280 H720 F30:1 Ip A1:1 C420jpeg\n";
  ASSERT_EQ(bytes.size(), header.size() + 3 * (6 + 1382400u));
  EXPECT_EQ(bytes.compare(0, header.size(), header), 0);
  // Frames differ from each other: the clip moves.
  const size_t frame = 6 + 1382400u;
  EXPECT_NE(bytes.substr(header.size(), frame), bytes.substr(header.size() + frame, frame));
}

TEST_F(ExtHost, BadStreamsStopWithOneLineAndKeepCompleteFrames) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const std::string clip = MakeClip("err_src.y4m", "64:48", 4);
  const std::string good = ReadFile(clip);
  const size_t header = good.find('\n') + 1;
  const size_t frame = 6 + 64 * 48 * 3 / 2;
  ASSERT_EQ(good.size(), header + 4 * frame);

  std::string bad_marker = good;
  bad_marker.replace(header + 2 * frame, 5, "FRAMX");
  const struct {
    std::string name, bytes, message;
    size_t keptFrames;
  } cases[] = {
      {"trunc.y4m", good.substr(0, good.size() - 100), "frame 4: truncated frame (4508 of 4608 bytes)", 3},
      {"marker.y4m", bad_marker, "frame 3: frame marker is not \"FRAME\"", 2},
      {"header.y4m", "YUV4MPEG2 W64\n" + good.substr(header), "header lacks width or height", 0},
      {"empty.y4m", "", "empty input", 0},
  };
  for (const auto& c : cases) {
    const std::string in = Tmp(c.name), out = in + ".out";
    WriteFile(in, c.bytes);
    std::remove(out.c_str());
    std::string err;
    EXPECT_EQ(Shell(exthost + " --ext fisheye --quiet -i " + in + " -o " + out, &err), 2) << c.name;
    const std::string first_line = err.substr(0, err.find('\n'));
    EXPECT_NE(first_line.find(in), std::string::npos) << first_line;
    EXPECT_NE(first_line.find(c.message), std::string::npos) << first_line;
    if (c.keptFrames > 0) {
      EXPECT_EQ(ReadFile(out), good.substr(0, header + c.keptFrames * frame)) << c.name;
    }
  }
}

TEST_F(ExtHost, UnsupportedSamplingIsRefused) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const std::string clip = MakeClip("c444.y4m", "64:48", 2, "yuv444p");
  std::string err;
  EXPECT_EQ(Shell(exthost + " --ext fisheye -i " + clip + " -o " + clip + ".out", &err), 2);
  EXPECT_NE(err.find("unsupported colour space or bit depth \"C444"), std::string::npos) << err;
}

TEST_F(ExtHost, CommandLineErrorsAndExitCodes) {
  const struct {
    std::string args;
    int status;
    const char* message;
  } cases[] = {
      {"--help", 0, ""},
      {"", 1, "--ext is required"},
      {"--ext fisheye --bogus", 1, "unknown option \"--bogus\""},
      {"--ext fisheye --frames x", 1, "--frames needs a count"},
      {"--ext fisheye --property novalue", 1, "--property needs KEY=VALUE"},
      {"--ext fisheye -i", 1, "-i needs a value"},
      {"--ext /nonexistent/libnothing.so", 3, "cannot load /nonexistent/libnothing.so"},
      {"--ext fisheye --property fishCorrection=notjson", 3, "rejected property fishCorrection"},
      {"--ext fisheye -i /nonexistent.y4m", 2, "/nonexistent.y4m: cannot open"},
      {"--ext fisheye --frames 1 -o /nonexistent/dir/out.y4m", 4, "cannot create"},
  };
  for (const auto& c : cases) {
    std::string err;
    EXPECT_EQ(Shell(exthost + " " + c.args + " >/dev/null", &err), c.status) << c.args;
    EXPECT_NE(err.find(c.message), std::string::npos) << c.args << ": " << err;
  }
}

TEST_F(ExtHost, LogFileHoldsTheHostLogLines) {
  const std::string log = Tmp("host.log");
  std::string err;
  ASSERT_EQ(Shell(exthost + " --ext fisheye --frames 2 --log " + log, &err), 0) << err;
  EXPECT_NE(ReadFile(log).find("1 lecture camera: sdk setExtensionControl for provider\n"),
            std::string::npos);
}

}  // namespace
