// An extension provider that offers exactly one video filter, by name:
// what both libraries register with the host.
#pragma once

#include "host/extension_interface.h"
#include "host/registration.h"

namespace host {

template <class Filter>
class SingleFilterProvider : public RefCounted<ExtensionProvider> {
 public:
  // Both texts are static and outlive the provider.
  SingleFilterProvider(const char* filter_name, const char* control_log)
      : filter_name_(filter_name), control_log_(control_log) {}
  // Forgets the control; the provider never held a reference to it.
  ~SingleFilterProvider() override { control_ = nullptr; }

  void setExtensionControl(ExtensionControl* control) override {
    control_ = control;
    if (control_ != nullptr) control_->log(1, "%s", control_log_);
  }

  void listExtensions(ExtensionDescriptor* out, int* count) override {
    if (out != nullptr) {
      out->kind = kExtensionVideoFilter;
      out->name = filter_name_;
    }
    if (count != nullptr) *count = 1;
  }

  void createVideoFilter(ObjectRef<ExtensionVideoFilter>& out, const char* name) override {
    if (!FilterNameMatches(name, filter_name_)) {
      out.reset();
      return;
    }
    out.assign(new Filter());
  }

  ExtensionControl* control() const { return control_; }

 private:
  const char* filter_name_;
  const char* control_log_;
  ExtensionControl* control_ = nullptr;  // not reference-counted
};

}  // namespace host
