#include "tools/exthost/builtin_clip.h"

#include <cmath>

namespace exthost {

namespace {

// Small integer hash for repeatable texture.
uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 374761393u + y * 668265263u + seed * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return h ^ (h >> 16);
}

uint8_t Clamp(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

void RenderClipFrame(int index, int width, int height, std::vector<uint8_t>* picture) {
  const int cw = (width + 1) / 2, ch = (height + 1) / 2;
  picture->resize(static_cast<size_t>(width) * height + 2 * static_cast<size_t>(cw) * ch);
  uint8_t* y = picture->data();
  uint8_t* u = y + static_cast<size_t>(width) * height;
  uint8_t* v = u + static_cast<size_t>(cw) * ch;

  const double t = index / 30.0;
  // A bright box moving left to right, a disc moving on a circle.
  const int box_w = width / 6, box_h = height / 4;
  const int box_x = static_cast<int>((width - box_w) * (0.5 + 0.45 * std::sin(t * 1.7)));
  const int box_y = height / 8;
  const double disc_x = width * (0.5 + 0.3 * std::cos(t * 2.3));
  const double disc_y = height * (0.6 + 0.2 * std::sin(t * 2.3));
  const double disc_r = height / 7.0;
  const int shift = index * 3;

  for (int row = 0; row < height; ++row) {
    for (int col = 0; col < width; ++col) {
      // Diagonal gradient scrolling with time.
      int value = 40 + ((col + row + shift) * 160) / (width + height);
      // Fine texture: a patch of noise in the lower left, stripes lower right.
      if (row > height / 2 && col < width / 3) {
        value += static_cast<int>(Hash(col, row, 7) % 41) - 20;
      } else if (row > height / 2 && col > 2 * width / 3) {
        value += ((col + shift) / 2 % 2) ? 25 : -25;
      }
      if (col >= box_x && col < box_x + box_w && row >= box_y && row < box_y + box_h) value = 225;
      const double dx = col - disc_x, dy = row - disc_y;
      if (dx * dx + dy * dy < disc_r * disc_r) value = 30 + static_cast<int>(Hash(col / 4, row / 4, 3) % 30);
      y[static_cast<size_t>(row) * width + col] = Clamp(value);
    }
  }
  for (int row = 0; row < ch; ++row) {
    for (int col = 0; col < cw; ++col) {
      u[static_cast<size_t>(row) * cw + col] = Clamp(96 + (col * 64) / cw + (index % 16));
      v[static_cast<size_t>(row) * cw + col] = Clamp(160 - (row * 64) / ch);
    }
  }
}

}  // namespace exthost
