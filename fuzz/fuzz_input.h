// Splits a fuzz input into the pieces a target needs, consuming from the
// front; reads past the end give zeros and empty pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzin {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), n_(size) {}

  uint8_t byte() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
  // Up to `count` bytes.
  std::vector<uint8_t> bytes(size_t count) {
    if (count > n_) count = n_;
    std::vector<uint8_t> out(p_, p_ + count);
    p_ += count;
    n_ -= count;
    return out;
  }
  std::vector<uint8_t> rest() { return bytes(n_); }
  // A NUL-terminated text of up to `count` bytes (stops early at a NUL).
  std::string text(size_t count) {
    std::vector<uint8_t> b = bytes(count);
    return std::string(b.begin(), b.end()).c_str();
  }
  size_t left() const { return n_; }

 private:
  const uint8_t* p_;
  size_t n_;
};

}  // namespace fuzzin
