// Lens parameters of the fisheye model and the corrector that keeps them
// current per frame and, when asked to, remaps the frame's pixels.
#pragma once

#include <cstdint>

#include "fisheye/fish_remap.h"
#include "host/extension_interface.h"

namespace fisheye {

struct FishCorrectionParams {
  float ss0;
  float ss1;
  float ss2;
  float ss3;
  float ss4;
  float xCenter;
  float yCenter;
  int32_t width;
  int32_t height;
  float scaleFactor;
  float focalLength;
  float polFocalLength;
  float splitHeight;
};
static_assert(sizeof(FishCorrectionParams) == 13 * 4, "13 fields of 4 bytes");

bool SameParams(const FishCorrectionParams& a, const FishCorrectionParams& b);

class FishCorrector {
 public:
  // False without a record; otherwise copies it.
  bool init(const FishCorrectionParams* params);
  // False without a record; copies it only when any field differs.
  bool update(const FishCorrectionParams* params);
  // Reads the frame's record.  Without remap the pixels stay unchanged and
  // the answer is true.  With remap the frame is replaced, in place, by the
  // corrected view (fish_lens_model.h); the answer is false when the record
  // or the parameters allow no remap, and the frame is then left as it is.
  bool correctFrame(host::ObjectRef<host::HostVideoFrame> frame);

  // Switches the pixel remap on or off (off after construction).
  void setRemap(bool on) { remap_ = on; }
  bool remap() const { return remap_; }

  const FishCorrectionParams& params() const { return params_; }
  // Number of whole-record copies made by init/update.
  int copies() const { return copies_; }
  // Number of times the remap maps were computed; they are kept while the
  // parameters and the frame size stay the same.
  int mapBuilds() const { return mapBuilds_; }

 private:
  bool remapFrame(const host::FrameDataRecord& record);

  FishCorrectionParams params_{};
  int copies_ = 0;
  bool remap_ = false;

  // Remap state, keyed by the parameters (with the frame size) it was built
  // for; mapUsable_ is false when those parameters describe no view.
  bool mapBuilt_ = false;
  bool mapUsable_ = false;
  FishCorrectionParams mapParams_{};
  int mapBuilds_ = 0;
  PlaneRemap lumaMap_;
  PlaneRemap chromaMap_;  // shared by both chroma planes
};

}  // namespace fisheye
