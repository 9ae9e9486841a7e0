#include "pvc/pvc_provider.h"

#include <string>

#include "host/registration.h"
#include "pvc/pvc_video_filter.h"

namespace pvc {

PvcExtensionProvider::~PvcExtensionProvider() { control_ = nullptr; }

void PvcExtensionProvider::setExtensionControl(host::ExtensionControl* control) {
  control_ = control;
  if (control_ != nullptr) control_->log(1, kSetControlLog);
}

void PvcExtensionProvider::listExtensions(host::ExtensionDescriptor* out, int* count) {
  if (out != nullptr) {
    out->kind = host::kExtensionVideoFilter;
    out->name = kFilterName;
  }
  if (count != nullptr) *count = 1;
}

void PvcExtensionProvider::createVideoFilter(host::ObjectRef<host::ExtensionVideoFilter>& out,
                                             const char* name) {
  if (!host::FilterNameMatches(name, kFilterName)) {
    out.reset();
    return;
  }
  out.assign(new PVCVideoFilter());
}

}  // namespace pvc
