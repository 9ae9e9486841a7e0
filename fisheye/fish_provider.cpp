// The provider "lecture_cam" that lenscorr_ext registers with the host.
#include "fisheye/fish_provider.h"

#include "fisheye/fish_correction_filter.h"
#include "host/registration.h"

namespace fisheye {

FishCorrectionProvider::~FishCorrectionProvider() { control_ = nullptr; }

void FishCorrectionProvider::setExtensionControl(host::ExtensionControl* control) {
  control_ = control;
  if (control_ != nullptr) control_->log(1, kSetControlLog);
}

void FishCorrectionProvider::listExtensions(host::ExtensionDescriptor* out, int* count) {
  if (out != nullptr) {
    out->kind = host::kExtensionVideoFilter;
    out->name = kFilterName;
  }
  if (count != nullptr) *count = 1;
}

void FishCorrectionProvider::createVideoFilter(host::ObjectRef<host::ExtensionVideoFilter>& out,
                                               const char* name) {
  if (!host::FilterNameMatches(name, kFilterName)) {
    out.reset();
    return;
  }
  out.assign(new FishCorrectionVideoFilter());
}

namespace {

host::ExtensionProvider* MakeProvider() { return new FishCorrectionProvider(); }

// Registration runs while the library is being loaded.
struct Registrar {
  Registrar() { host::RegisterProviderWithHost(kProviderName, &MakeProvider); }
} g_registrar;

}  // namespace

}  // namespace fisheye
