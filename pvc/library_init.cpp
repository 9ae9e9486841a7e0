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

// Registration runs from a static initialiser, not from a DllMain of our
// own.  On Windows both run in the same place, the loader's process-attach
// notification under the loader lock (the C runtime's DLL entry point runs
// the initialisers), so an explicit DllMain would add nothing.  What runs
// there is safe under that lock: host ordinals 6 and 9 live in
// oxrin_rtc_sdk.dll, which the loader has initialised before us because
// we import it; the provider is one allocation; nothing loads a library,
// starts or waits for a thread (OpenCL is loaded on the first frame).
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
