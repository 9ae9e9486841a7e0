// Property values as a host may hand them over: `size` bytes that need not
// end in a NUL.  Each value sits in a heap block of exactly its bytes, so a
// read past them is caught by the address sanitizer build.  The first rows
// are inputs the fuzzer found to read past the value.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "fisheye/fish_correction_filter.h"
#include "pvc/pvc_video_filter.h"

namespace {

// `text` copied without a terminator (or with one when `terminated`).
std::unique_ptr<char[]> Block(const std::string& text, bool terminated) {
  std::unique_ptr<char[]> b(new char[text.size() + (terminated ? 1 : 0) + (text.empty() ? 1 : 0)]);
  std::memcpy(b.get(), text.data(), text.size());
  if (terminated) b[text.size()] = '\0';
  return b;
}

struct PvcRow {
  const char* bytes;   // the block's content
  size_t size;         // size handed to setProperty
  bool terminated;     // a NUL follows the bytes
  int result;
  bool pvcSupport;     // afterwards
};

class PvcValueBounds : public ::testing::TestWithParam<PvcRow> {};

TEST_P(PvcValueBounds, ReadsNoFurtherThanTheHostsBytes) {
  const PvcRow& r = GetParam();
  const std::string text(r.bytes);
  const auto value = Block(text, r.terminated);
  pvc::PVCVideoFilter f;
  f.addRef();
  EXPECT_EQ(f.setProperty("pvc_parameter", value.get(), r.size), r.result) << r.bytes;
  EXPECT_EQ(f.pvcSupport(), r.pvcSupport) << r.bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PvcValueBounds,
    ::testing::Values(
        // Found by fuzz_pvc_property: a non-object value without a NUL.
        PvcRow{"[1,2]", 5, false, -1, false},
        PvcRow{"{\"PvcSupport\":true}", 19, false, 0, true},
        // The size ends the value before its NUL would.
        PvcRow{"{\"PvcSupport\":true}{", 19, false, 0, true},
        PvcRow{"{\"PvcSupport\":true}", 12, false, -1, false},
        // The usual call: the size counts the NUL.
        PvcRow{"{\"PvcSupport\":true}", 20, true, 0, true},
        // A size of 0 gives no length: the value runs to its NUL.
        PvcRow{"{\"PvcSupport\":true}", 0, true, 0, true},
        PvcRow{"{\"DevicesId\":\"NVIDIA GeForce RTX 2070\"}", 39, false, 0, true}));

struct FishRow {
  const char* bytes;
  size_t size;
  int result;
  bool enabled;
};

class FishValueBounds : public ::testing::TestWithParam<FishRow> {};

TEST_P(FishValueBounds, ReadsNoFurtherThanTheHostsBytes) {
  const FishRow& r = GetParam();
  const auto value = Block(r.bytes, false);
  fisheye::FishCorrectionVideoFilter f;
  f.addRef();
  EXPECT_EQ(f.setProperty("fishCorrection", value.get(), r.size), r.result) << r.bytes;
  EXPECT_EQ(f.enabled(), r.enabled) << r.bytes;
}

INSTANTIATE_TEST_SUITE_P(Rows, FishValueBounds,
                         ::testing::Values(FishRow{"{\"enable\":1}", 12, 0, true},
                                           FishRow{"{\"enable\":1", 11, -1, false},
                                           FishRow{"{\"enable\":1}", 5, -1, false},
                                           FishRow{"[1]", 3, -1, false},
                                           FishRow{"{\"enable\":1}", 0, -1, false}));

}  // namespace
