/* A library for the loading tests: one exported function. */
#include "platform/export.h"

OX_EXPORT int probe_value(void) { return PROBE_VALUE; }
