#include "tools/exthost/png_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace exthost {

namespace {

uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0) {
  static uint32_t table[256];
  static bool ready = false;
  if (!ready) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    ready = true;
  }
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void Put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out->push_back(static_cast<uint8_t>(v >> s));
}

void Chunk(std::vector<uint8_t>* png, const char* type, const std::vector<uint8_t>& data) {
  Put32(png, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png->insert(png->end(), body.begin(), body.end());
  Put32(png, Crc32(body.data(), body.size()));
}

}  // namespace

bool WriteGrayPng(const std::string& path, int width, int height, const std::vector<uint8_t>& pixels,
                  std::string* error) {
  if (width <= 0 || height <= 0 || pixels.size() < static_cast<size_t>(width) * height) {
    *error = "nothing to write";
    return false;
  }
  // Raw scanlines, each preceded by filter type 0.
  std::vector<uint8_t> raw;
  raw.reserve(static_cast<size_t>(width + 1) * height);
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), pixels.begin() + static_cast<long>(y) * width,
               pixels.begin() + static_cast<long>(y + 1) * width);
  }
  // zlib stream of stored blocks.
  std::vector<uint8_t> z = {0x78, 0x01};
  uint32_t a = 1, b = 0;
  for (uint8_t v : raw) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  for (size_t pos = 0; pos < raw.size() || pos == 0;) {
    const size_t n = std::min<size_t>(65535, raw.size() - pos);
    const bool last = pos + n >= raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n & 0xFF));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n & 0xFF));
    z.push_back(static_cast<uint8_t>((~n >> 8) & 0xFF));
    z.insert(z.end(), raw.begin() + static_cast<long>(pos), raw.begin() + static_cast<long>(pos + n));
    pos += n;
    if (last) break;
  }
  Put32(&z, (b << 16) | a);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  Put32(&ihdr, static_cast<uint32_t>(width));
  Put32(&ihdr, static_cast<uint32_t>(height));
  ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});  // 8-bit greyscale
  Chunk(&png, "IHDR", ihdr);
  Chunk(&png, "IDAT", z);
  Chunk(&png, "IEND", {});

  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    *error = std::string("cannot create: ") + std::strerror(errno);
    return false;
  }
  const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  if (std::fclose(f) != 0 || !ok) {
    *error = "write failed";
    return false;
  }
  return true;
}

std::vector<uint8_t> SideBySide(const uint8_t* in, const uint8_t* out, int width, int height,
                                int gain) {
  std::vector<uint8_t> pic(static_cast<size_t>(3) * width * height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = pic.data() + static_cast<size_t>(y) * 3 * width;
    const uint8_t* a = in + static_cast<size_t>(y) * width;
    const uint8_t* b = out + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      row[x] = a[x];
      row[width + x] = b[x];
      const int d = 128 + gain * (int(b[x]) - int(a[x]));
      row[2 * width + x] = static_cast<uint8_t>(d < 0 ? 0 : (d > 255 ? 255 : d));
    }
  }
  return pic;
}

}  // namespace exthost
