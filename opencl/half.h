// Host-side number conversions for data that kernels read as half
// precision or as normalised floats.
#pragma once

#include <cstddef>
#include <cstdint>

namespace opencl {

// IEEE binary16 to binary32, exact.  Every NaN becomes the quiet NaN
// 0x7FC00000.  Blocks of 8 use the processor's half conversion when it has
// one; the result does not depend on which path a value takes.
void HalfToFloat(const uint16_t* src, float* dst, size_t count);
float HalfToFloat(uint16_t h);

// binary32 to binary16, truncating toward zero.  NaN becomes 0x7FFF,
// infinities keep their sign, finite magnitudes above 65504 saturate to
// 0x7BFF with their sign (the largest finite half, as truncation gives).
void FloatToHalf(const float* src, uint16_t* dst, size_t count);
uint16_t FloatToHalf(float f);

// dst[i] = (src[i] - mean) * scale in single precision; 16 bytes per step
// with vector instructions, the rest one by one, with identical results.
void BytesToFloat(const uint8_t* src, float* dst, size_t count, float mean, float scale);

}  // namespace opencl
