// The provider "lecture_cam" that lenscorr_ext registers with the host.
#pragma once

#include "fisheye/fish_correction_filter.h"
#include "host/single_filter_provider.h"

namespace fisheye {

class FishCorrectionProvider final
    : public host::SingleFilterProvider<FishCorrectionVideoFilter, FishCorrectionProvider> {
 public:
  FishCorrectionProvider() : SingleFilterProvider(kFilterName, kSetControlLog) {}
};

}  // namespace fisheye
