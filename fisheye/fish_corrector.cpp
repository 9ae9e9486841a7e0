#include "fisheye/fish_corrector.h"

#include <new>

#include "fisheye/fish_correction_filter.h"  // kLensOptions: the lens fields
#include "fisheye/fish_lens_model.h"

namespace fisheye {

bool SameParams(const FishCorrectionParams& a, const FishCorrectionParams& b) {
  if (a.width != b.width || a.height != b.height) return false;
  for (const LensOption& o : kLensOptions) {
    if (a.*o.field != b.*o.field) return false;
  }
  return true;
}

bool FishCorrector::init(const FishCorrectionParams* params) {
  if (params == nullptr) return false;
  params_ = *params;
  ++copies_;
  return true;
}

bool FishCorrector::update(const FishCorrectionParams* params) {
  if (params == nullptr) return false;
  if (SameParams(*params, params_)) return true;
  params_ = *params;
  ++copies_;
  return true;
}

bool FishCorrector::correctFrame(host::ObjectRef<host::HostVideoFrame> frame) {
  if (!frame) return false;
  host::FrameDataRecord record;
  host::PrepareFrameDataRecord(&record);
  frame->getFrameData(&record);
  const bool done = remap_ ? remapFrame(record) : true;
  frame.reset();
  return done;
}

namespace {

// Largest frame the remap takes on (8K UHD area, 16384 on a side).
constexpr int kMaxRemapSide = 16384;
constexpr long long kMaxRemapPixels = 7680LL * 4320LL;

// Source of a luma pixel: its centre through the lens model, back in pixel
// indices.
bool LumaSource(const void* ctx, int x, int y, double* sx, double* sy) {
  const auto* model = static_cast<const FishLensModel*>(ctx);
  double u = 0, v = 0;
  if (!model->sourcePoint(x + 0.5, y + 0.5, &u, &v)) return false;
  *sx = u - 0.5;
  *sy = v - 0.5;
  return true;
}

// Source of a chroma pixel: its centre is the luma point (2i + 1, 2j + 1);
// the source point is halved into chroma coordinates.
bool ChromaSource(const void* ctx, int x, int y, double* sx, double* sy) {
  const auto* model = static_cast<const FishLensModel*>(ctx);
  double u = 0, v = 0;
  if (!model->sourcePoint(2.0 * x + 1.0, 2.0 * y + 1.0, &u, &v)) return false;
  *sx = u / 2.0 - 0.5;
  *sy = v / 2.0 - 0.5;
  return true;
}

}  // namespace

bool FishCorrector::remapFrame(const host::FrameDataRecord& record) {
  const int w = record.width, h = record.height;
  if (record.luma == nullptr || w < 1 || h < 1 || w > kMaxRemapSide || h > kMaxRemapSide ||
      static_cast<long long>(w) * h > kMaxRemapPixels) {
    return false;
  }
  const int cw = w / 2 + w % 2, ch = h / 2 + h % 2;
  // The host-owned plane block (chroma planes and pitches) counts only when
  // the host describes it consistently; otherwise the luma plane alone is
  // remapped, with rows of `width` bytes.
  const bool block = record.chromaWidth == cw && record.chromaHeight == ch;
  const bool chroma = block && record.cb != nullptr && record.cr != nullptr &&
                      record.chromaPitch >= cw;
  const int luma_pitch = block && record.lumaPitch > 0 ? record.lumaPitch : w;
  if (luma_pitch < w) return false;

  FishCorrectionParams key = params_;
  key.width = w;
  key.height = h;
  if (!mapBuilt_ || !SameParams(key, mapParams_)) {
    // Nothing may throw across the host boundary: a map that cannot be
    // allocated leaves the frames unchanged.
    try {
      const FishLensModel model(key);
      mapUsable_ = model.valid();
      if (mapUsable_) {
        lumaMap_.build(w, h, kBlackLuma, &LumaSource, &model);
        chromaMap_.build(cw, ch, kBlackChroma, &ChromaSource, &model);
      }
    } catch (const std::bad_alloc&) {
      mapUsable_ = false;
      lumaMap_ = PlaneRemap();
      chromaMap_ = PlaneRemap();
    }
    mapParams_ = key;
    mapBuilt_ = true;
    ++mapBuilds_;
  }
  if (!mapUsable_) return false;

  lumaMap_.apply(record.luma, luma_pitch);
  if (chroma) {
    chromaMap_.apply(record.cb, record.chromaPitch);
    chromaMap_.apply(record.cr, record.chromaPitch);
  }
  return true;
}

}  // namespace fisheye
