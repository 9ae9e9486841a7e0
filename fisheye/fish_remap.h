// Precomputed bilinear remap of one 8-bit plane, applied in place.
//
// The map holds, for every pixel of the plane, the top-left source sample in
// a padded scratch copy and the two fractions in 1/256 pixel.  The scratch
// copy has one replicated column on the right and one replicated row at the
// bottom (so a sample up to half a pixel past the edge reads the edge value)
// and two constant rows below them that pixels without a source point read.
// Building sizes every buffer; apply() allocates nothing.
#pragma once

#include <cstdint>
#include <vector>

namespace fisheye {

constexpr uint8_t kBlackLuma = 16;
constexpr uint8_t kBlackChroma = 128;

class PlaneRemap {
 public:
  // Source of an output pixel in the plane's own pixel-index coordinates
  // (pixel centres at integers); false when the pixel has none.
  using SourceFn = bool (*)(const void* ctx, int x, int y, double* sx, double* sy);

  // Sizes the map and scratch for a width x height plane and fills the map.
  // A source further than half a pixel outside the plane counts as none.
  void build(int width, int height, uint8_t black, SourceFn source, const void* ctx);

  // Resamples the plane through the map.  The plane must have the size
  // given to build().
  void apply(uint8_t* plane, int pitch);

  int width() const { return width_; }
  int height() const { return height_; }
  // Pixels of the plane that have a source point.
  long mappedPixels() const { return mapped_; }

 private:
  struct Entry {
    uint32_t offset;  // top-left sample in the scratch copy
    uint8_t fx, fy;   // fractions, 1/256 pixel
    uint16_t unused;
  };
  int width_ = 0;
  int height_ = 0;
  int scratchPitch_ = 0;
  long mapped_ = 0;
  std::vector<Entry> map_;
  std::vector<uint8_t> scratch_;
};

}  // namespace fisheye
