// Load-time registration of lenscorr_ext; compiled into the library only.
#include "fisheye/fish_provider.h"

namespace fisheye {
namespace {

host::ExtensionProvider* MakeProvider() { return new FishCorrectionProvider(); }

struct Registrar {
  Registrar() { host::RegisterProviderWithHost(kProviderName, &MakeProvider); }
} g_registrar;

}  // namespace
}  // namespace fisheye
