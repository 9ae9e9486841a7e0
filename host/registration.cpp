#include "host/registration.h"

#include <cstring>
#include <string>
#include <utility>

#include "host/host_sdk.h"

namespace host {

void PrepareFrameDataRecord(FrameDataRecord* record) {
  std::memset(record, 0, sizeof(*record));
  record->preset108 = 2;
  record->preset112 = 2;
  record->preset116 = 2;
  record->preset120 = 0;
}

bool RegisterProviderWithHost(const char* provider_name, ProviderFactory factory) {
  ExtensionControl* control = oxrin_rtc_sdk_ordinal_6();
  const ProviderVersion version{1, 0, 0};
  oxrin_rtc_sdk_ordinal_9(provider_name, &version);
  if (control == nullptr || factory == nullptr) return false;
  ExtensionProvider* provider = factory();
  provider->addRef();
  ObjectRef<ExtensionProvider> ref = ObjectRef<ExtensionProvider>::Adopt(provider);
  control->registerProvider(provider_name, std::move(ref));
  return true;
}

bool FilterNameMatches(const char* requested, const char* offered) {
  if (requested == nullptr || offered == nullptr) return false;
  const std::string name(requested);
  return name.size() == std::strlen(offered) &&
         std::memcmp(name.data(), offered, name.size()) == 0;
}

}  // namespace host
