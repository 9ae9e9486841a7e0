// One virtual call through each interface of host/extension_interface.h,
// which makes the compiler lay out (and, asked to, dump) every virtual
// table without implementing any interface.
#include "host/extension_interface.h"

void UseEveryInterface(host::ExtensionVideoFilter* filter, host::ExtensionProvider* provider,
                       host::ExtensionControl* control, host::FilterControl* filterControl,
                       host::HostVideoFrame* frame) {
  filter->stop();
  provider->slot9Notify();
  control->reserved0();
  filterControl->reserved2();
  frame->reserved2();
}
