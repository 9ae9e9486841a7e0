// Test frames for the JND filters: synthetic texture with striped borders,
// a real video frame, and a byte-difference summary.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace testframes {

// Deterministic texture with stripes along every border.
inline std::vector<uint8_t> Synthetic(int w, int h) {
  std::vector<uint8_t> p(static_cast<size_t>(w) * h);
  uint32_t s = 12345;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      s = s * 1664525u + 1013904223u;
      int v = (x * 7 + y * 3) % 256;
      v = (v + static_cast<int>(s >> 24) % 64) % 256;
      if (x < 3 || y < 3 || x >= w - 3 || y >= h - 3) v = ((x + y) % 2) ? 235 : 16;
      p[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(v);
    }
  return p;
}

// A 1280x720 luma frame of the shared test video, stripes painted along its
// borders; synthetic content when the video or ffmpeg is missing.
inline std::vector<uint8_t> RealFrame(int w, int h) {
  const std::string out =
      ::testing::TempDir() + "jnd_real_frame_" + std::to_string(getpid()) + ".gray";
  const std::string cmd = "ffmpeg -v error -y -ss 5 -i '" OXRIN_TESTDATA_DIR
                          "/Megamind.avi' -frames:v 1 -vf scale=" +
                          std::to_string(w) + ":" + std::to_string(h) +
                          " -pix_fmt gray -f rawvideo '" + out + "' 2>/dev/null";
  std::vector<uint8_t> p(static_cast<size_t>(w) * h);
  std::ifstream f;
  if (std::system(cmd.c_str()) == 0) f.open(out, std::ios::binary);
  if (!f || !f.read(reinterpret_cast<char*>(p.data()), static_cast<std::streamsize>(p.size())))
    return Synthetic(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (x < 2 || y < 2 || x >= w - 2 || y >= h - 2)
        p[static_cast<size_t>(y) * w + x] = ((x / 1 + y) % 2) ? 240 : 12;
  return p;
}

struct Diff {
  int max = 0;
  size_t over1 = 0;
  size_t worstAt = 0;
};

inline Diff Compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  Diff d;
  for (size_t i = 0; i < a.size(); ++i) {
    const int e = std::abs(int(a[i]) - int(b[i]));
    if (e > d.max) {
      d.max = e;
      d.worstAt = i;
    }
    if (e > 1) ++d.over1;
  }
  return d;
}

}  // namespace testframes
