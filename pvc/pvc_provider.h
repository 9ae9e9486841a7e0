// The provider "oxrin_pvc" that percept_ext registers with the host.
#pragma once

#include "host/single_filter_provider.h"
#include "pvc/pvc_video_filter.h"

namespace pvc {

constexpr const char kProviderName[] = "oxrin_pvc";
constexpr const char kFilterName[] = "pvc";
constexpr const char kSetControlLog[] = "pvc: sdk setExtensionControl for provider";
constexpr const char kVersionText[] = "\"matting_release_2.0.16\"";

class PvcExtensionProvider final
    : public host::SingleFilterProvider<PVCVideoFilter, PvcExtensionProvider> {
 public:
  PvcExtensionProvider() : SingleFilterProvider(kFilterName, kSetControlLog) {}
};

}  // namespace pvc
