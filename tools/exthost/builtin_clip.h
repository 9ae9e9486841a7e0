// A generated test clip, so the first run needs no input file: a moving
// picture with hard edges, smooth gradients and fine texture.
#pragma once

#include <cstdint>
#include <vector>

namespace exthost {

constexpr int kClipWidth = 1280;
constexpr int kClipHeight = 720;
constexpr int kClipFrames = 60;
constexpr int kClipFpsNum = 30;
constexpr int kClipFpsDen = 1;

// Fills one I420 picture (w x h, chroma rounded up) of frame `index`.
// Deterministic: the same index always gives the same bytes.
void RenderClipFrame(int index, int width, int height, std::vector<uint8_t>* picture);

}  // namespace exthost
