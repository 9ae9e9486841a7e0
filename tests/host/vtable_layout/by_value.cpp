// A host's call that hands a reference over by value, and an extension's
// operation that receives one: compiled for both ABIs to see which side
// destroys the by-value holder.
#include "host/extension_interface.h"

int HostHandsOver(host::ExtensionVideoFilter* filter, host::FilterControl* control) {
  return filter->start(host::ObjectRef<host::FilterControl>(control));
}

int ExtensionReceives(host::ObjectRef<host::FilterControl> control) {
  control.reset();
  return 0;
}
