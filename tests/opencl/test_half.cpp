// Host conversions between float, half and bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "opencl/half.h"

namespace {

uint32_t Bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

float FromBits(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

struct ToHalfCase {
  uint32_t floatBits;
  uint16_t half;
};
void PrintTo(const ToHalfCase& c, std::ostream* os) {
  *os << std::hex << "f" << c.floatBits << "_h" << c.half;
}

class FloatToHalfTable : public ::testing::TestWithParam<ToHalfCase> {};

TEST_P(FloatToHalfTable, TruncatesTowardZero) {
  const ToHalfCase c = GetParam();
  const float f = FromBits(c.floatBits);
  EXPECT_EQ(opencl::FloatToHalf(f), c.half) << std::hex << c.floatBits;
  uint16_t out[1] = {0xDEAD};
  opencl::FloatToHalf(&f, out, 1);
  EXPECT_EQ(out[0], c.half);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FloatToHalfTable,
    ::testing::Values(ToHalfCase{0x3F800000u, 0x3C00},   // 1.0
                      ToHalfCase{0x33800000u, 0x0001},   // 2^-24, smallest subnormal
                      ToHalfCase{0x80000000u, 0x8000},   // -0.0
                      ToHalfCase{0x3F333333u, 0x3999},   // 0.7 (rounding would give 0x399A)
                      ToHalfCase{0x3F803000u, 0x3C01},   // 1 + 3*2^-11 (rounding: 0x3C02)
                      ToHalfCase{0x33000000u, 0x0000},   // 2^-25
                      ToHalfCase{0xB3800000u, 0x8001},   // -2^-24
                      ToHalfCase{0x477FEF00u, 0x7BFF},   // 65519
                      ToHalfCase{0x477FE000u, 0x7BFF},   // 65504
                      ToHalfCase{0x47800000u, 0x7BFF},   // 65536 saturates
                      ToHalfCase{0xD01502F9u, 0xFBFF},   // -1e10 saturates with sign
                      ToHalfCase{0x7F800000u, 0x7C00},   // +inf
                      ToHalfCase{0xFF800000u, 0xFC00},   // -inf
                      ToHalfCase{0x7FC00000u, 0x7FFF},   // NaN
                      ToHalfCase{0xFFC00001u, 0x7FFF},   // negative NaN loses its sign
                      ToHalfCase{0x38800000u, 0x0400},   // 2^-14, smallest normal
                      ToHalfCase{0x387FFFFFu, 0x03FF},   // just below it
                      ToHalfCase{0x00000001u, 0x0000},   // float subnormal
                      ToHalfCase{0x3DCCCCCDu, 0x2E66}));  // 0.1

struct ToFloatCase {
  uint16_t half;
  uint32_t floatBits;
};
void PrintTo(const ToFloatCase& c, std::ostream* os) {
  *os << std::hex << "h" << c.half << "_f" << c.floatBits;
}

class HalfToFloatTable : public ::testing::TestWithParam<ToFloatCase> {};

TEST_P(HalfToFloatTable, Exact) {
  const ToFloatCase c = GetParam();
  EXPECT_EQ(Bits(opencl::HalfToFloat(c.half)), c.floatBits) << std::hex << c.half;
}

INSTANTIATE_TEST_SUITE_P(Values, HalfToFloatTable,
                         ::testing::Values(ToFloatCase{0x3C00, 0x3F800000u},
                                           ToFloatCase{0x0001, 0x33800000u},
                                           ToFloatCase{0x8001, 0xB3800000u},
                                           ToFloatCase{0x03FF, 0x387FC000u},
                                           ToFloatCase{0x8000, 0x80000000u},
                                           ToFloatCase{0x0000, 0x00000000u},
                                           ToFloatCase{0x7BFF, 0x477FE000u},
                                           ToFloatCase{0x7C00, 0x7F800000u},
                                           ToFloatCase{0xFC00, 0xFF800000u},
                                           ToFloatCase{0x7C01, 0x7FC00000u},
                                           ToFloatCase{0xFE00, 0x7FC00000u},
                                           ToFloatCase{0x7FFF, 0x7FC00000u},
                                           ToFloatCase{0x3999, 0x3F332000u}));

bool IsHalfNaN(uint16_t h) { return (h & 0x7C00) == 0x7C00 && (h & 0x03FF) != 0; }

TEST(HalfConversion, AllPatternsRoundTripAndBlocksAgreeWithTail) {
  std::vector<uint16_t> halves(65536);
  for (uint32_t i = 0; i < 65536; ++i) halves[i] = static_cast<uint16_t>(i);
  // The whole array goes through blocks of 8 where the processor allows.
  std::vector<float> batch(65536);
  opencl::HalfToFloat(halves.data(), batch.data(), halves.size());
  for (uint32_t i = 0; i < 65536; ++i) {
    const uint16_t h = halves[i];
    // One value at a time always takes the tail path.
    float single = 0;
    opencl::HalfToFloat(&halves[i], &single, 1);
    ASSERT_EQ(Bits(batch[i]), Bits(single)) << "pattern " << std::hex << h;
    if (IsHalfNaN(h)) {
      ASSERT_EQ(Bits(batch[i]), 0x7FC00000u) << std::hex << h;
      ASSERT_EQ(opencl::FloatToHalf(batch[i]), 0x7FFF);
    } else {
      ASSERT_EQ(opencl::FloatToHalf(batch[i]), h) << std::hex << h;
    }
  }
}

struct BytesCase {
  size_t length;
  size_t start;
};
void PrintTo(const BytesCase& c, std::ostream* os) { *os << "len" << c.length << "_at" << c.start; }

class BytesToFloatTable : public ::testing::TestWithParam<BytesCase> {};

TEST_P(BytesToFloatTable, MatchesScalarFormulaAndStaysInBounds) {
  const BytesCase c = GetParam();
  std::vector<uint8_t> bytes(c.start + c.length + 4);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  bytes[c.start] = 0;
  if (c.length > 1) bytes[c.start + c.length - 1] = 255;
  const float mean = 127.5f, scale = 1.0f / 58.395f;
  std::vector<float> out(c.length + 1 + c.start, -1234.5f);
  opencl::BytesToFloat(bytes.data() + c.start, out.data() + c.start, c.length, mean, scale);
  for (size_t i = 0; i < c.length; ++i) {
    const float expected = (static_cast<float>(bytes[c.start + i]) - mean) * scale;
    EXPECT_EQ(Bits(out[c.start + i]), Bits(expected)) << "index " << i;
  }
  for (size_t i = 0; i < c.start; ++i) EXPECT_EQ(out[i], -1234.5f);
  EXPECT_EQ(out[c.start + c.length], -1234.5f) << "wrote past the end";
}

INSTANTIATE_TEST_SUITE_P(LengthsAndOffsets, BytesToFloatTable,
                         ::testing::Values(BytesCase{0, 0}, BytesCase{1, 0}, BytesCase{15, 0},
                                           BytesCase{16, 0}, BytesCase{17, 0}, BytesCase{33, 0},
                                           BytesCase{1, 3}, BytesCase{15, 1}, BytesCase{16, 1},
                                           BytesCase{17, 3}, BytesCase{33, 7}));

}  // namespace
