/* Symbol export and import marks for shared libraries, usable from C and
 * C++ alike (platform.h includes it; a C source includes it alone). */
#ifndef OXRIN_PLATFORM_EXPORT_H
#define OXRIN_PLATFORM_EXPORT_H

#if defined(_WIN32)
#define OX_EXPORT __declspec(dllexport)
#define OX_IMPORT __declspec(dllimport)
#else
#define OX_EXPORT __attribute__((visibility("default")))
#define OX_IMPORT __attribute__((visibility("default")))
#endif

#endif /* OXRIN_PLATFORM_EXPORT_H */
