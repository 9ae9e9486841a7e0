// Registration of an extension provider with the host while the library
// is being loaded.
#pragma once

#include "host/extension_interface.h"

namespace host {

// Creates a provider (count 0) for registration.
using ProviderFactory = ExtensionProvider* (*)();

// Runs the registration sequence: ordinal 6, ordinal 9 with version 1.0.0
// (even when ordinal 6 answered null), then, when a control exists, one
// reference to a new provider handed to registerProvider.  Returns true
// when a provider was registered.
bool RegisterProviderWithHost(const char* provider_name, ProviderFactory factory);

// Exact-name rule of createVideoFilter: same length, same bytes.
bool FilterNameMatches(const char* requested, const char* offered);

}  // namespace host
