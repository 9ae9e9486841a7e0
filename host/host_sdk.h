// Entry points imported from the host SDK library.  The host exports them
// by ordinal only; on Windows the import library maps these names to
// ordinals 6 and 9, elsewhere the host library exports them by these names.
#pragma once

#include "host/extension_interface.h"

extern "C" {
// Ordinal 6: the host's extension control, or null when it takes no providers.
host::ExtensionControl* oxrin_rtc_sdk_ordinal_6();
// Ordinal 9: declares a provider's interface version; the result is ignored.
int oxrin_rtc_sdk_ordinal_9(const char* provider_name, const host::ProviderVersion* version);
}
