// Reading and writing .npy arrays (format versions 1 to 3, C order,
// little-endian float32 or uint8; int64 is written too).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace netrun {

struct NpyArray {
  std::vector<int64_t> shape;
  bool is_u8 = false;        // '|u1'; otherwise '<f4'
  std::vector<float> f32;    // values when !is_u8
  std::vector<uint8_t> u8;   // values when is_u8
  size_t size() const { return is_u8 ? u8.size() : f32.size(); }
};

// Parses the bytes of a whole .npy file; false with a reason.
bool ParseNpy(const uint8_t* data, size_t size, NpyArray* out, std::string* error);
bool ReadNpy(const std::string& path, NpyArray* out, std::string* error);
bool WriteNpy(const std::string& path, const std::vector<int64_t>& shape, const float* values,
              std::string* error);
bool WriteNpyI64(const std::string& path, const std::vector<int64_t>& shape, const int64_t* values,
                 std::string* error);
bool WriteNpyU8(const std::string& path, const std::vector<int64_t>& shape, const uint8_t* values,
                std::string* error);

// The shape as n, h, w, c: fewer than four dimensions are padded with
// leading 1s; false for more than four or an extent outside 1..2^31-1.
bool Shape4(const std::vector<int64_t>& shape, int32_t out[4]);

}  // namespace netrun
