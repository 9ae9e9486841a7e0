#include "tools/netrun/npy.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace netrun {

namespace {

constexpr char kMagic[] = "\x93NUMPY";
constexpr size_t kMagicSize = 6;
constexpr int64_t kMaxExtent = 0x7FFFFFFF;
// Largest array read: 2^31 - 1 elements.
constexpr int64_t kMaxValues = 0x7FFFFFFF;

bool Fail(std::string* error, const std::string& why) {
  if (error != nullptr) *error = why;
  return false;
}

// Value text of key in the header dictionary: the text after "'key':"
// with leading blanks skipped; npos when absent.
size_t ValueAt(const std::string& header, const char* key) {
  const std::string quoted = std::string("'") + key + "'";
  size_t p = header.find(quoted);
  if (p == std::string::npos) return p;
  p += quoted.size();
  while (p < header.size() && header[p] == ' ') ++p;
  if (p >= header.size() || header[p] != ':') return std::string::npos;
  ++p;
  while (p < header.size() && header[p] == ' ') ++p;
  return p;
}

bool ParseShape(const std::string& header, std::vector<int64_t>* shape) {
  size_t p = ValueAt(header, "shape");
  if (p == std::string::npos || header[p] != '(') return false;
  const size_t close = header.find(')', p);
  if (close == std::string::npos) return false;
  size_t i = p + 1;
  while (i < close) {
    while (i < close && (header[i] == ' ' || header[i] == ',')) ++i;
    if (i >= close) break;
    int64_t v = 0;
    bool digits = false;
    while (i < close && header[i] >= '0' && header[i] <= '9') {
      v = v * 10 + (header[i] - '0');
      if (v > kMaxExtent) return false;
      digits = true;
      ++i;
    }
    if (!digits) return false;
    shape->push_back(v);
    if (shape->size() > 8) return false;
  }
  return true;
}

}  // namespace

bool Shape4(const std::vector<int64_t>& shape, int32_t out[4]) {
  if (shape.size() > 4) return false;
  for (int i = 0; i < 4; ++i) out[i] = 1;
  const size_t lead = 4 - shape.size();
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] < 1 || shape[i] > kMaxExtent) return false;
    out[lead + i] = static_cast<int32_t>(shape[i]);
  }
  return true;
}

bool ParseNpy(const uint8_t* data, size_t size, NpyArray* out, std::string* error) {
  if (size < kMagicSize + 4 || std::memcmp(data, kMagic, kMagicSize) != 0)
    return Fail(error, "not an .npy file");
  const int major = data[6];
  size_t header_len = 0, offset = 0;
  if (major == 1) {
    header_len = data[8] | (size_t{data[9]} << 8);
    offset = 10;
  } else if (major == 2 || major == 3) {
    if (size < 12) return Fail(error, "truncated .npy header");
    header_len = data[8] | (size_t{data[9]} << 8) | (size_t{data[10]} << 16) |
                 (size_t{data[11]} << 24);
    offset = 12;
  } else {
    return Fail(error, "unsupported .npy version");
  }
  if (header_len > size - offset) return Fail(error, "truncated .npy header");
  const std::string header(reinterpret_cast<const char*>(data + offset), header_len);
  offset += header_len;

  size_t d = ValueAt(header, "descr");
  if (d == std::string::npos) return Fail(error, ".npy header has no descr");
  bool u8 = false;
  if (header.compare(d, 5, "'<f4'") == 0) {
    u8 = false;
  } else if (header.compare(d, 5, "'|u1'") == 0) {
    u8 = true;
  } else {
    return Fail(error, ".npy data type is neither float32 ('<f4') nor uint8 ('|u1')");
  }
  const size_t f = ValueAt(header, "fortran_order");
  if (f == std::string::npos || header.compare(f, 5, "False") != 0)
    return Fail(error, ".npy array is not in C order");
  std::vector<int64_t> shape;
  if (!ParseShape(header, &shape)) return Fail(error, ".npy shape unreadable");
  int64_t count = 1;
  for (int64_t e : shape) {
    count *= e;
    if (count > kMaxValues) return Fail(error, ".npy array too large");
  }
  const size_t item = u8 ? 1 : 4;
  if (size - offset != static_cast<size_t>(count) * item)
    return Fail(error, ".npy data size disagrees with its shape");
  out->shape = shape;
  out->is_u8 = u8;
  out->f32.clear();
  out->u8.clear();
  if (u8) {
    out->u8.assign(data + offset, data + size);
  } else {
    out->f32.resize(static_cast<size_t>(count));
    // The host is little-endian, as the data.
    if (count > 0) std::memcpy(out->f32.data(), data + offset, static_cast<size_t>(count) * 4);
  }
  return true;
}

bool ReadNpy(const std::string& path, NpyArray* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot open " + path);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string why;
  if (!ParseNpy(bytes.data(), bytes.size(), out, &why)) return Fail(error, path + ": " + why);
  return true;
}

namespace {

bool WriteArray(const std::string& path, const std::vector<int64_t>& shape, const char* descr,
                const void* values, size_t element_size, std::string* error) {
  std::string dims;
  int64_t count = 1;
  for (int64_t e : shape) {
    dims += std::to_string(e) + ", ";
    count *= e;
  }
  // "(1, 2, 3)", "(5,)"
  if (!shape.empty()) dims.resize(dims.size() - (shape.size() > 1 ? 2 : 1));
  std::string header =
      std::string("{'descr': '") + descr + "', 'fortran_order': False, 'shape': (" + dims + "), }";
  // Magic, version, length and header padded with blanks to 64 bytes,
  // ending in a newline.
  const size_t unpadded = kMagicSize + 4 + header.size() + 1;
  header.append((64 - unpadded % 64) % 64, ' ');
  header += '\n';
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return Fail(error, "cannot write " + path);
  const unsigned char pre[4] = {1, 0, static_cast<unsigned char>(header.size() & 0xFF),
                                static_cast<unsigned char>(header.size() >> 8)};
  bool ok = std::fwrite(kMagic, 1, kMagicSize, f) == kMagicSize &&
            std::fwrite(pre, 1, 4, f) == 4 &&
            std::fwrite(header.data(), 1, header.size(), f) == header.size() &&
            std::fwrite(values, element_size, static_cast<size_t>(count), f) ==
                static_cast<size_t>(count);
  ok = (std::fclose(f) == 0) && ok;
  return ok ? true : Fail(error, "cannot write " + path);
}

}  // namespace

bool WriteNpy(const std::string& path, const std::vector<int64_t>& shape, const float* values,
              std::string* error) {
  return WriteArray(path, shape, "<f4", values, sizeof(float), error);
}

bool WriteNpyI64(const std::string& path, const std::vector<int64_t>& shape, const int64_t* values,
                 std::string* error) {
  return WriteArray(path, shape, "<i8", values, sizeof(int64_t), error);
}

bool WriteNpyU8(const std::string& path, const std::vector<int64_t>& shape, const uint8_t* values,
                std::string* error) {
  return WriteArray(path, shape, "|u1", values, 1, error);
}

}  // namespace netrun
