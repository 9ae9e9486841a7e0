// Writes 8-bit greyscale PNG files (stored, uncompressed deflate blocks:
// no compression library needed).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace exthost {

bool WriteGrayPng(const std::string& path, int width, int height, const std::vector<uint8_t>& pixels,
                  std::string* error);

// The picture shown by --compare: input luma, output luma and their
// difference (128 + gain x (out - in), clamped) side by side.
std::vector<uint8_t> SideBySide(const uint8_t* in, const uint8_t* out, int width, int height,
                                int gain);

}  // namespace exthost
