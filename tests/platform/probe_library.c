/* A library for the loading tests: one exported function. */
#if defined(_WIN32)
#define PROBE_EXPORT __declspec(dllexport)
#else
#define PROBE_EXPORT __attribute__((visibility("default")))
#endif

PROBE_EXPORT int probe_value(void) { return PROBE_VALUE; }
