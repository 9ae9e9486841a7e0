#include "fisheye/fish_remap.h"

#include <algorithm>
#include <cstring>

namespace fisheye {

void PlaneRemap::build(int width, int height, uint8_t black, SourceFn source, const void* ctx) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  scratchPitch_ = width_ + 1;
  // Rows 0..h-1: the plane, row h: its last row again, rows h+1, h+2: black.
  scratch_.assign(static_cast<size_t>(scratchPitch_) * (height_ + 3), black);
  map_.resize(static_cast<size_t>(width_) * height_);
  mapped_ = 0;

  const uint32_t black_offset = static_cast<uint32_t>(scratchPitch_) * (height_ + 1);
  const double x_max = width_ - 0.5, y_max = height_ - 0.5;
  // Largest fixed-point position whose sample and neighbours stay inside the
  // padded copy.
  const long fx_max = static_cast<long>(width_ - 1) * 256 + 255;
  const long fy_max = static_cast<long>(height_ - 1) * 256 + 255;
  for (int y = 0; y < height_; ++y) {
    Entry* row = map_.data() + static_cast<size_t>(y) * width_;
    for (int x = 0; x < width_; ++x) {
      double sx = 0, sy = 0;
      Entry e{black_offset, 0, 0, 0};
      if (source(ctx, x, y, &sx, &sy) && sx >= -0.5 && sx < x_max && sy >= -0.5 && sy < y_max) {
        // Rounded to 1/256 pixel; sx, sy >= -0.5 here, so the shifted value
        // is positive and truncation rounds it.
        const long fx = std::clamp(static_cast<long>(sx * 256.0 + 256.5) - 256, 0L, fx_max);
        const long fy = std::clamp(static_cast<long>(sy * 256.0 + 256.5) - 256, 0L, fy_max);
        e.offset = static_cast<uint32_t>((fy >> 8) * scratchPitch_ + (fx >> 8));
        e.fx = static_cast<uint8_t>(fx & 255);
        e.fy = static_cast<uint8_t>(fy & 255);
        ++mapped_;
      }
      row[x] = e;
    }
  }
}

void PlaneRemap::apply(uint8_t* plane, int pitch) {
  if (width_ == 0 || height_ == 0) return;
  const int sp = scratchPitch_;
  uint8_t* s = scratch_.data();
  for (int y = 0; y < height_; ++y) {
    const uint8_t* in = plane + static_cast<size_t>(y) * pitch;
    uint8_t* out = s + static_cast<size_t>(y) * sp;
    std::memcpy(out, in, static_cast<size_t>(width_));
    out[width_] = in[width_ - 1];
  }
  std::memcpy(s + static_cast<size_t>(height_) * sp, s + static_cast<size_t>(height_ - 1) * sp,
              static_cast<size_t>(sp));

  for (int y = 0; y < height_; ++y) {
    const Entry* e = map_.data() + static_cast<size_t>(y) * width_;
    uint8_t* out = plane + static_cast<size_t>(y) * pitch;
    for (int x = 0; x < width_; ++x) {
      const uint8_t* p = s + e[x].offset;
      const uint32_t fx = e[x].fx, fy = e[x].fy;
      const uint32_t top = p[0] * (256 - fx) + p[1] * fx;
      const uint32_t bottom = p[sp] * (256 - fx) + p[sp + 1] * fx;
      out[x] = static_cast<uint8_t>((top * (256 - fy) + bottom * fy + 32768) >> 16);
    }
  }
}

}  // namespace fisheye
