// The provider "oxrin_pvc" that percept_ext registers with the host.
#pragma once

#include "host/extension_interface.h"

namespace pvc {

constexpr const char kProviderName[] = "oxrin_pvc";
constexpr const char kFilterName[] = "pvc";
constexpr const char kSetControlLog[] = "pvc: sdk setExtensionControl for provider";
constexpr const char kVersionText[] = "\"matting_release_2.0.16\"";

class PvcExtensionProvider : public host::RefCounted<host::ExtensionProvider> {
 public:
  ~PvcExtensionProvider() override;
  void setExtensionControl(host::ExtensionControl* control) override;
  void listExtensions(host::ExtensionDescriptor* out, int* count) override;
  void createVideoFilter(host::ObjectRef<host::ExtensionVideoFilter>& out,
                         const char* name) override;

  host::ExtensionControl* control() const { return control_; }

 private:
  host::ExtensionControl* control_ = nullptr;  // not reference-counted
};

}  // namespace pvc
