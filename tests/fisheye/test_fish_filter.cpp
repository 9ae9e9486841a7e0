// The lens-parameter rules of FishCorrectionVideoFilter, read back through
// the filter's and corrector's read-only views.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fisheye/fish_correction_filter.h"
#include "tests/common/doc_text.h"

namespace {

using fisheye::FishCorrectionParams;
using fisheye::FishCorrectionVideoFilter;

// A host frame owned by the test; counts its references.
class TestFrame : public host::HostVideoFrame {
 public:
  TestFrame(int w, int h) : w_(w), h_(h), plane_(static_cast<size_t>(w) * h, 77) {}
  void addRef() override { ++refs; }
  int release() override { return --refs > 0 ? 1 : 0; }
  void reserved2() override {}
  void reserved3() override {}
  int getFrameData(host::FrameDataRecord* r) override {
    ++dataCalls;
    r->luma = plane_.data();
    r->width = w_;
    r->height = h_;
    return 0;
  }
  int refs = 0;
  int dataCalls = 0;

 private:
  int w_, h_;
  std::vector<uint8_t> plane_;
};

class TestControl : public host::FilterControl {
 public:
  void addRef() override { ++refs; }
  int release() override { return --refs > 0 ? 1 : 0; }
  void reserved2() override {}
  void reserved3() override {}
  void reserved4() override {}
  void reserved5() override {}
  int postEvent(const char* key, const char* value) override {
    events.emplace_back(std::string(key) + "=" + value);
    return 0;
  }
  int log(int, const char*, ...) override { return 0; }
  int refs = 0;
  std::vector<std::string> events;
};

int Set(FishCorrectionVideoFilter& f, const std::string& json) {
  return f.setProperty("fishCorrection", json.c_str(), json.size());
}

int Feed(FishCorrectionVideoFilter& f, TestFrame& frame) {
  host::ObjectRef<host::HostVideoFrame> out;
  return f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);
}

void ExpectDefaultLens(const FishCorrectionParams& p, const char* except = "") {
  const FishCorrectionParams d = fisheye::DefaultLensParams();
  for (const fisheye::LensOption& o : fisheye::kLensOptions) {
    if (std::string(o.key) == except) continue;
    EXPECT_EQ(p.*o.field, d.*o.field) << o.key;
  }
}

TEST(FishDefaults, TableHoldsTheDocumentedDefaults) {
  const FishCorrectionParams d = fisheye::DefaultLensParams();
  EXPECT_FLOAT_EQ(d.ss0, 0.9375f);
  EXPECT_FLOAT_EQ(d.ss1, 0.0f);
  EXPECT_FLOAT_EQ(d.ss2, -2.944f);
  EXPECT_FLOAT_EQ(d.ss3, 5.7344f);
  EXPECT_FLOAT_EQ(d.ss4, -4.4564f);
  EXPECT_FLOAT_EQ(d.xCenter, 0.49f);
  EXPECT_FLOAT_EQ(d.yCenter, 0.48f);
  EXPECT_FLOAT_EQ(d.scaleFactor, 4.5f);
  EXPECT_FLOAT_EQ(d.focalLength, 31.0f);
  EXPECT_FLOAT_EQ(d.polFocalLength, 31.0f);
  EXPECT_FLOAT_EQ(d.splitHeight, 1.0f);
  EXPECT_EQ(d.width, 0);
  EXPECT_EQ(d.height, 0);
}

// README.md shows every lens row, in table order, as
// "- `KEY` (default VALUE): MEANING".
TEST(FishDefaults, ReadmeListsEveryLensMember) {
#ifndef OXRIN_README_PATH
  GTEST_SKIP() << "README.md is checked by the POSIX build";
#else
  const std::string readme = testutil::ReadCollapsed(OXRIN_README_PATH);
  ASSERT_FALSE(readme.empty()) << OXRIN_README_PATH;
  std::vector<std::string> lines;
  for (const fisheye::LensOption& o : fisheye::kLensOptions) {
    char initial[32];
    std::snprintf(initial, sizeof initial, "%g", static_cast<double>(o.defaultValue));
    lines.push_back(std::string("- `") + o.key + "` (default `" + initial + "`): " + o.help);
  }
  for (const std::string& line : testutil::MissingInOrder(readme, lines))
    ADD_FAILURE() << "README.md lacks, or lists out of order:\n" << line;
#endif
}

// A change of any one field, the frame size included, is a change of
// parameters: the corrector copies the record again.
class FishSameParams : public ::testing::TestWithParam<float FishCorrectionParams::*> {};

TEST_P(FishSameParams, AnyFieldChangeIsCopied) {
  fisheye::FishCorrector c;
  FishCorrectionParams p = fisheye::DefaultLensParams();
  p.width = 640;
  p.height = 480;
  ASSERT_TRUE(c.init(&p));
  ASSERT_TRUE(c.update(&p));
  EXPECT_EQ(c.copies(), 1);
  p.*GetParam() += 0.5f;
  ASSERT_TRUE(c.update(&p));
  EXPECT_EQ(c.copies(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FishSameParams,
    ::testing::Values(&FishCorrectionParams::ss0, &FishCorrectionParams::ss1,
                      &FishCorrectionParams::ss2, &FishCorrectionParams::ss3,
                      &FishCorrectionParams::ss4, &FishCorrectionParams::xCenter,
                      &FishCorrectionParams::yCenter, &FishCorrectionParams::scaleFactor,
                      &FishCorrectionParams::focalLength, &FishCorrectionParams::polFocalLength,
                      &FishCorrectionParams::splitHeight));

TEST(FishSameParams, FrameSizeChangeIsCopied) {
  fisheye::FishCorrector c;
  FishCorrectionParams p = fisheye::DefaultLensParams();
  ASSERT_TRUE(c.init(&p));
  p.width = 2;
  ASSERT_TRUE(c.update(&p));
  p.height = 2;
  ASSERT_TRUE(c.update(&p));
  EXPECT_EQ(c.copies(), 3);
}

TEST(FishProperty, SequenceOfValuesAndFrames) {
  FishCorrectionVideoFilter f;
  TestFrame hd(1280, 720);

  // Upper-case member names are found; other fields take their defaults.
  ASSERT_EQ(Set(f, R"({"enable":1,"SS0":2.5})"), 0);
  EXPECT_TRUE(f.enabled());
  EXPECT_FLOAT_EQ(f.params().ss0, 2.5f);
  ExpectDefaultLens(f.params(), "ss0");
  EXPECT_EQ(f.params().width, 640);
  EXPECT_EQ(f.params().height, 480);

  // A frame brings its own size.
  EXPECT_EQ(Feed(f, hd), 0);
  EXPECT_EQ(f.params().width, 1280);
  EXPECT_EQ(f.params().height, 720);

  // Members left out are reset to their defaults, not kept; the frame
  // size stays.
  ASSERT_EQ(Set(f, R"({"enable":1})"), 0);
  EXPECT_FLOAT_EQ(f.params().ss0, 0.9375f);
  EXPECT_EQ(f.params().width, 1280);

  // enable 0: parameters untouched, filter off.
  ASSERT_EQ(Set(f, R"({"enable":0,"ss0":7})"), 0);
  EXPECT_FALSE(f.enabled());
  EXPECT_FLOAT_EQ(f.params().ss0, 0.9375f);
}

struct EnableCase {
  const char* json;
  int result;
  bool enabledAfter;  // starting from enabled = true
};

class FishEnable : public ::testing::TestWithParam<EnableCase> {};

TEST_P(FishEnable, EnableMemberRules) {
  const EnableCase c = GetParam();
  FishCorrectionVideoFilter f;
  ASSERT_EQ(Set(f, R"({"enable":1,"ss1":0.25})"), 0);
  EXPECT_EQ(Set(f, c.json), c.result) << c.json;
  EXPECT_EQ(f.enabled(), c.enabledAfter) << c.json;
  if (c.result != 0) {
    EXPECT_FLOAT_EQ(f.params().ss1, 0.25f) << "a rejected value changed params";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FishEnable,
    ::testing::Values(EnableCase{R"({"enable":true})", -1, true},
                      EnableCase{R"({"enable":false})", -1, true},
                      EnableCase{R"({"enable":"1"})", -1, true},
                      EnableCase{R"({"enable":null})", -1, true},
                      EnableCase{R"({"ss0":1})", -1, true},
                      EnableCase{R"({"enable":0.5})", 0, false},
                      EnableCase{R"({"enable":-0.9})", 0, false},
                      EnableCase{R"({"enable":1e300})", 0, true},
                      EnableCase{R"({"enable":-1e300})", 0, true},
                      EnableCase{R"({"ENABLE":2})", 0, true},
                      EnableCase{"[1,2,3]", -1, true},
                      EnableCase{"not json", -1, true},
                      EnableCase{R"({"enable":1)", -1, true}));

TEST(FishProperty, HugeNumbersSaturateToTheFloatRange) {
  FishCorrectionVideoFilter f;
  ASSERT_EQ(Set(f, R"({"enable":1,"ss0":1e300,"ss1":-1e300,"ss2":1e400,"x_center":1e-300})"), 0);
  EXPECT_EQ(f.params().ss0, FLT_MAX);
  EXPECT_EQ(f.params().ss1, -FLT_MAX);
  EXPECT_EQ(f.params().ss2, FLT_MAX);
  EXPECT_EQ(f.params().xCenter, 0.0f);
}

TEST(FishProperty, NonNumericMembersTakeTheDefault) {
  FishCorrectionVideoFilter f;
  ASSERT_EQ(Set(f, R"({"enable":1,"ss0":"2","ss2":null,"ss3":[1],"split_height":true})"), 0);
  ExpectDefaultLens(f.params());
}

TEST(FishProperty, KeyAndArgumentChecks) {
  FishCorrectionVideoFilter f;
  const char* v = R"({"enable":1,"ss0":2})";
  const size_t n = std::strlen(v);
  EXPECT_EQ(f.setProperty("FishCorrection", v, n), -1);
  EXPECT_EQ(f.setProperty("fishCorrection ", v, n), -1);
  EXPECT_EQ(f.setProperty("fish", v, n), -1);
  EXPECT_EQ(f.setProperty("", v, n), -1);
  EXPECT_EQ(f.setProperty(nullptr, v, n), -1);
  EXPECT_EQ(f.setProperty("fishCorrection", nullptr, n), -1);
  EXPECT_EQ(f.setProperty("fishCorrection", v, 0), -1);
  EXPECT_FALSE(f.enabled());
  EXPECT_EQ(f.params().ss0, 0.0f);
  EXPECT_EQ(f.setProperty("fishCorrection", v, n), 0);
}

TEST(FishProperty, ValueIsReadNoFurtherThanItsSize) {
  FishCorrectionVideoFilter f;
  // An unterminated buffer: exactly the JSON bytes, no NUL after them.
  const std::string json = R"({"enable":1,"ss0":3})";
  char* buf = static_cast<char*>(std::malloc(json.size()));
  std::memcpy(buf, json.data(), json.size());
  EXPECT_EQ(f.setProperty("fishCorrection", buf, json.size()), 0);
  EXPECT_FLOAT_EQ(f.params().ss0, 3.0f);
  // A size cutting the text short leaves a document that does not parse.
  EXPECT_EQ(f.setProperty("fishCorrection", buf, json.size() - 1), -1);
  std::free(buf);

  // An embedded NUL ends the text.
  const char with_nul[] = "{\"enable\":1,\"ss0\":4}\0{\"enable\":0}";
  EXPECT_EQ(f.setProperty("fishCorrection", with_nul, sizeof(with_nul)), 0);
  EXPECT_FLOAT_EQ(f.params().ss0, 4.0f);
  EXPECT_TRUE(f.enabled());
}

TEST(FishProperty, DeeplyNestedValueIsRejectedWithoutCrashing) {
  FishCorrectionVideoFilter f;
  std::string deep = "{\"enable\":1,\"x\":" + std::string(200000, '[') + std::string(200000, ']') + "}";
  EXPECT_EQ(Set(f, deep), -1);
  std::string deep_obj;
  for (int i = 0; i < 50000; ++i) deep_obj += "{\"a\":";
  EXPECT_EQ(Set(f, deep_obj), -1);
}

TEST(FishFrames, EmptyInputAnswersTwoAndLeavesTheOutput) {
  FishCorrectionVideoFilter f;
  TestFrame held(8, 8);
  host::ObjectRef<host::HostVideoFrame> out(&held);
  EXPECT_EQ(f.processFrame(host::ObjectRef<host::HostVideoFrame>(), out), 2);
  EXPECT_EQ(out.get(), &held);
  EXPECT_EQ(held.refs, 1);
}

TEST(FishFrames, DisabledPassesTheInputAndKeepsNoReference) {
  FishCorrectionVideoFilter f;
  TestFrame frame(320, 240);
  {
    host::ObjectRef<host::HostVideoFrame> out;
    EXPECT_EQ(f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out), 1);
    EXPECT_EQ(out.get(), &frame);
    EXPECT_EQ(frame.refs, 1);
  }
  EXPECT_EQ(frame.refs, 0);
  // The size is tracked even while disabled.
  EXPECT_EQ(f.params().width, 320);
}

TEST(FishFrames, StartGivesAFreshCorrectorThatCatchesUpOnTheFirstFrame) {
  TestControl control;  // outlives the filter, which releases it when destroyed
  FishCorrectionVideoFilter f;
  TestFrame frame(1280, 720);
  ASSERT_EQ(Set(f, R"({"enable":1,"ss4":-1.5})"), 0);
  EXPECT_EQ(f.corrector(), nullptr);

  f.start(host::ObjectRef<host::FilterControl>(&control));
  ASSERT_NE(f.corrector(), nullptr);
  EXPECT_EQ(f.corrector()->params().ss4, 0.0f);  // zero until the first frame
  EXPECT_EQ(Feed(f, frame), 0);
  EXPECT_FLOAT_EQ(f.corrector()->params().ss4, -1.5f);
  EXPECT_EQ(f.corrector()->params().width, 1280);
  EXPECT_EQ(frame.dataCalls, 2);

  // Unchanged parameters are not copied again.
  const int copies = f.corrector()->copies();
  EXPECT_EQ(Feed(f, frame), 0);
  EXPECT_EQ(f.corrector()->copies(), copies);

  // A property while enabled updates the corrector at once.
  ASSERT_EQ(Set(f, R"({"enable":1,"ss4":-2})"), 0);
  EXPECT_FLOAT_EQ(f.corrector()->params().ss4, -2.0f);

  f.stop();
  EXPECT_EQ(f.corrector(), nullptr);
  EXPECT_TRUE(f.enabled());
  EXPECT_FLOAT_EQ(f.params().ss4, -2.0f);

  f.start(host::ObjectRef<host::FilterControl>(&control));
  EXPECT_EQ(f.corrector()->params().ss4, 0.0f);
  EXPECT_EQ(Feed(f, frame), 0);
  EXPECT_FLOAT_EQ(f.corrector()->params().ss4, -2.0f);

  EXPECT_EQ(control.events.size(), 2u);
  EXPECT_EQ(control.events[0], "log=FishCorrection: FishCorrectionVideoFilter start");
  EXPECT_EQ(control.refs, 1);  // the filter keeps one reference
}

TEST(FishFrames, EnablingAfterStartInitialisesTheCorrector) {
  FishCorrectionVideoFilter f;
  f.start(host::ObjectRef<host::FilterControl>());
  ASSERT_EQ(Set(f, R"({"enable":1,"focal_length":12})"), 0);
  EXPECT_FLOAT_EQ(f.corrector()->params().focalLength, 12.0f);
  EXPECT_EQ(f.corrector()->params().width, 640);
}

TEST(FishCorrector, NullRecordsAreRefused) {
  fisheye::FishCorrector c;
  EXPECT_FALSE(c.init(nullptr));
  EXPECT_FALSE(c.update(nullptr));
  EXPECT_FALSE(c.correctFrame(host::ObjectRef<host::HostVideoFrame>()));
}

}  // namespace
