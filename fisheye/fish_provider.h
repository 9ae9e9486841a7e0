#pragma once

#include "host/extension_interface.h"

namespace fisheye {

class FishCorrectionProvider : public host::RefCounted<host::ExtensionProvider> {
 public:
  ~FishCorrectionProvider() override;
  void setExtensionControl(host::ExtensionControl* control) override;
  void listExtensions(host::ExtensionDescriptor* out, int* count) override;
  void createVideoFilter(host::ObjectRef<host::ExtensionVideoFilter>& out,
                         const char* name) override;

  host::ExtensionControl* control() const { return control_; }

 private:
  host::ExtensionControl* control_ = nullptr;  // not reference-counted
};

}  // namespace fisheye
