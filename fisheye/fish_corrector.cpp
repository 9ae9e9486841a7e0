#include "fisheye/fish_corrector.h"

namespace fisheye {

bool SameParams(const FishCorrectionParams& a, const FishCorrectionParams& b) {
  return a.ss0 == b.ss0 && a.ss1 == b.ss1 && a.ss2 == b.ss2 && a.ss3 == b.ss3 &&
         a.ss4 == b.ss4 && a.xCenter == b.xCenter && a.yCenter == b.yCenter &&
         a.width == b.width && a.height == b.height && a.scaleFactor == b.scaleFactor &&
         a.focalLength == b.focalLength && a.polFocalLength == b.polFocalLength &&
         a.splitHeight == b.splitHeight;
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
  frame.reset();
  return true;
}

}  // namespace fisheye
