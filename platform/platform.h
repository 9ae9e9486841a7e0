// The one place that knows which operating system we run on: symbol
// visibility, dynamic loading, the monotonic clock and the system's
// OpenCL library names.  Everything else includes this header instead of
// testing _WIN32 itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
#define OX_EXPORT __declspec(dllexport)
#define OX_IMPORT __declspec(dllimport)
#else
#define OX_EXPORT __attribute__((visibility("default")))
#define OX_IMPORT __attribute__((visibility("default")))
#endif

namespace platform {

// Opaque handle of a loaded dynamic library; null when loading failed.
using LibHandle = void*;

// Loads a library by name or path; null on failure (see LastLoadError).
LibHandle OpenLibrary(const char* path);
// Looks a symbol up by name; null when absent or when lib is null.
void* FindSymbol(LibHandle lib, const char* name);
// Unloads a library previously returned by OpenLibrary; null is ignored.
void CloseLibrary(LibHandle lib);
// Text of the last OpenLibrary/FindSymbol failure on this thread.
std::string LastLoadError();

// High-resolution monotonic clock.
int64_t ClockTicks();
int64_t ClockTicksPerSecond();
// Milliseconds between two ClockTicks() readings.
double TicksToMs(int64_t begin, int64_t end);

// True in builds that check for leaks (AddressSanitizer): libraries loaded
// at run time then stay mapped at exit, so what they allocated is still
// attributed to them by name.
bool KeepLibrariesAtExit();

// The OpenCL library names tried in order: the plain name first, then the
// absolute path of the system's copy.
std::vector<std::string> OpenClLibraryNames();

}  // namespace platform
