// Load-time registration of lenscorr_ext; compiled into the library only.
#include "fisheye/fish_provider.h"

namespace fisheye {
namespace {

host::ExtensionProvider* MakeProvider() { return new FishCorrectionProvider(); }

// A static initialiser: on Windows it runs in the loader's process-attach
// notification, where calling the already initialised host library and
// allocating are safe (see pvc/library_init.cpp).
struct Registrar {
  Registrar() { host::RegisterProviderWithHost(kProviderName, &MakeProvider); }
} g_registrar;

}  // namespace
}  // namespace fisheye
