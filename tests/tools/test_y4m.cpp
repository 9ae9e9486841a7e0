// YUV4MPEG2 header parsing and stream reading.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "tools/exthost/y4m.h"

namespace {

struct HeaderCase {
  const char* line;
  bool ok;
  int width, height;
  const char* errorPart;  // expected in the message when !ok
};

class Y4mHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(Y4mHeader, Parses) {
  const HeaderCase c = GetParam();
  y4m::StreamInfo info;
  std::string error;
  ASSERT_EQ(y4m::ParseHeader(c.line, &info, &error), c.ok) << c.line << ": " << error;
  if (c.ok) {
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.height);
    EXPECT_EQ(info.header, c.line);
  } else {
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Y4mHeader,
    ::testing::Values(
        HeaderCase{"YUV4MPEG2 W1280 H720 F30:1 Ip A1:1 C420jpeg", true, 1280, 720, ""},
        HeaderCase{"YUV4MPEG2 W321 H241 F2997:125 It A0:0 C420mpeg2 XYSCSS=420MPEG2", true, 321, 241, ""},
        HeaderCase{"YUV4MPEG2 W2 H2", true, 2, 2, ""},
        HeaderCase{"YUV4MPEG2 W16 H16 C420paldv", true, 16, 16, ""},
        HeaderCase{"YUV4MPEG2 W16 H16 C420", true, 16, 16, ""},
        HeaderCase{"YUV4MPEG W16 H16", false, 0, 0, "signature"},
        HeaderCase{"", false, 0, 0, "signature"},
        HeaderCase{"YUV4MPEG2 H16", false, 0, 0, "width or height"},
        HeaderCase{"YUV4MPEG2 W0 H16", false, 0, 0, "bad width"},
        HeaderCase{"YUV4MPEG2 W-5 H16", false, 0, 0, "bad width"},
        HeaderCase{"YUV4MPEG2 W16 H99999999999", false, 0, 0, "bad height"},
        HeaderCase{"YUV4MPEG2 W16 H16 F30", false, 0, 0, "frame rate"},
        HeaderCase{"YUV4MPEG2 W16 H16 C444", false, 0, 0, "unsupported colour space"},
        HeaderCase{"YUV4MPEG2 W16 H16 C420p10", false, 0, 0, "unsupported colour space"},
        HeaderCase{"YUV4MPEG2 W16 H16 Cmono", false, 0, 0, "unsupported colour space"},
        HeaderCase{"YUV4MPEG2 W16 H16 Q9", false, 0, 0, "unknown header parameter"}));

TEST(Y4mSizes, ChromaRoundsUpForOddSizes) {
  EXPECT_EQ(y4m::FrameBytes(1280, 720), 1382400u);
  EXPECT_EQ(y4m::FrameBytes(321, 241), 321u * 241u + 2u * 161u * 121u);
  EXPECT_EQ(y4m::FrameBytes(1, 1), 3u);
}

class Y4mStream : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "y4m_stream_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".y4m";
  }
  void TearDown() override { std::remove(path_.c_str()); }
  void Write(const std::string& bytes) {
    FILE* f = std::fopen(path_.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  std::string path_;
};

TEST_F(Y4mStream, ReadsFramesUntilTheEnd) {
  // 3x3: 9 luma + 2x2 chroma twice = 17 bytes per frame.
  Write("YUV4MPEG2 W3 H3 F25:1\nFRAME\n" + std::string(17, 'a') + "FRAME Ixyz\n" +
        std::string(17, 'b'));
  y4m::Reader r;
  std::string error;
  ASSERT_TRUE(r.open(path_, &error)) << error;
  y4m::Frame f;
  ASSERT_EQ(r.read(&f, &error), y4m::ReadStatus::kFrame);
  EXPECT_EQ(f.data, std::vector<uint8_t>(17, 'a'));
  ASSERT_EQ(r.read(&f, &error), y4m::ReadStatus::kFrame);
  EXPECT_EQ(f.header, "FRAME Ixyz");
  EXPECT_EQ(r.read(&f, &error), y4m::ReadStatus::kEnd);
  EXPECT_EQ(r.framesRead(), 2);
}

TEST_F(Y4mStream, ErrorsNameTheFrame) {
  const std::string header = "YUV4MPEG2 W3 H3\n";
  const std::string frame = "FRAME\n" + std::string(17, 'x');
  const struct {
    std::string body;
    const char* message;
  } cases[] = {
      {frame + "FRAME\n" + std::string(10, 'x'), "frame 2: truncated frame (10 of 17 bytes)"},
      {frame + "FRAMES\n" + std::string(17, 'x'), "frame 2: frame marker is not \"FRAME\""},
      {frame + "garbage", "frame 2: truncated frame header"},
      {"PICTURE\n" + std::string(17, 'x'), "frame 1: frame marker is not \"FRAME\""},
  };
  for (const auto& c : cases) {
    Write(header + c.body);
    y4m::Reader r;
    std::string error;
    ASSERT_TRUE(r.open(path_, &error));
    y4m::Frame f;
    y4m::ReadStatus st;
    while ((st = r.read(&f, &error)) == y4m::ReadStatus::kFrame) {
    }
    EXPECT_EQ(st, y4m::ReadStatus::kError);
    EXPECT_EQ(error, c.message);
  }
}

TEST_F(Y4mStream, MissingOrEndlessHeaderIsRefused) {
  const struct {
    std::string bytes;
    const char* message;
  } cases[] = {
      {"", "empty input (no YUV4MPEG2 header)"},
      {std::string(5000, 'Y'), "bad header (no newline within 4096 bytes)"},
      {"RIFF....\n", "not a YUV4MPEG2 stream (missing \"YUV4MPEG2\" signature)"},
  };
  for (const auto& c : cases) {
    Write(c.bytes);
    y4m::Reader r;
    std::string error;
    EXPECT_FALSE(r.open(path_, &error));
    EXPECT_EQ(error, c.message);
  }
  y4m::Reader r;
  std::string error;
  EXPECT_FALSE(r.open(path_ + ".missing", &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos);
}

}  // namespace
