// Load-time registration and the named export of percept_ext.  Compiled
// into the library only, so tests that link the filter's objects do not
// register a provider by merely starting.
#include <string>

#include "host/registration.h"
#include "platform/platform.h"
#include "pvc/pvc_provider.h"

namespace pvc {
namespace {

host::ExtensionProvider* MakeProvider() { return new PvcExtensionProvider(); }

struct Registrar {
  Registrar() { host::RegisterProviderWithHost(kProviderName, &MakeProvider); }
} g_registrar;

}  // namespace
}  // namespace pvc

// The library's one named export: its version text, returned as a
// standard string (the caller provides the storage).
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" OX_EXPORT std::string version() { return pvc::kVersionText; }
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
