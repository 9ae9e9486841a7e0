// An extension provider that offers exactly one video filter, by name:
// what both libraries register with the host.
#pragma once

#include "host/extension_interface.h"
#include "host/registration.h"

namespace host {

// Derived: the concrete provider class, which the provider is destroyed as.
template <class Filter, class Derived>
class SingleFilterProvider : public RefCounted<ExtensionProvider, Derived> {
 public:
  // Both texts are static and outlive the provider.
  SingleFilterProvider(const char* filter_name, const char* control_log)
      : filter_name_(filter_name), control_log_(control_log) {}

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

  // Nothing is thrown into the host: a filter that cannot be made (no
  // memory) is an empty reference, like an unknown name.
  void createVideoFilter(ObjectRef<ExtensionVideoFilter>& out, const char* name) override {
    try {
      if (FilterNameMatches(name, filter_name_)) {
        out.assign(new Filter());
        return;
      }
    } catch (...) {
    }
    out.reset();
  }

  ExtensionControl* control() const { return control_; }

 protected:
  // Forgets the control; the provider never held a reference to it.
  ~SingleFilterProvider() { control_ = nullptr; }

 private:
  const char* filter_name_;
  const char* control_log_;
  ExtensionControl* control_ = nullptr;  // not reference-counted
};

}  // namespace host
