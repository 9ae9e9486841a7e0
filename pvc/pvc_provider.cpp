#include "pvc/pvc_provider.h"

#include <string>

#include "host/registration.h"

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
  // The perceptual filter itself is not wired in yet; every name yields
  // an empty reference.
  (void)host::FilterNameMatches(name, kFilterName);
  out.reset();
}

}  // namespace pvc
