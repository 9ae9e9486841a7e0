// Lens parameters of the fisheye model and the corrector that keeps them
// current per frame.
#pragma once

#include <cstdint>

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
  // Reads the frame's record and reports success; pixels stay unchanged.
  bool correctFrame(host::ObjectRef<host::HostVideoFrame> frame);

  const FishCorrectionParams& params() const { return params_; }
  // Number of whole-record copies made by init/update.
  int copies() const { return copies_; }

 private:
  FishCorrectionParams params_{};
  int copies_ = 0;
};

}  // namespace fisheye
