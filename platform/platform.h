// The one place that knows which operating system we run on: symbol
// visibility, dynamic loading, the monotonic clock, the system's OpenCL
// library names and the process facilities tests use (child processes,
// pipes).  Everything else includes this header instead of testing _WIN32
// itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/export.h"

namespace platform {

// True in the Windows build.
#if defined(_WIN32)
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

// Opaque handle of a loaded dynamic library; null when loading failed.
using LibHandle = void*;

// How OpenLibrary binds a library.
enum LoadFlags : unsigned {
  kLoadLocal = 0,
  // Its symbols serve libraries loaded later (POSIX only; Windows resolves
  // every import against a named module anyway).
  kLoadGlobal = 1u << 0,
  // Never unmapped, not even by the last CloseLibrary, until the process
  // exits.
  kLoadPinned = 1u << 1,
};

// Loads a library by name or path; null on failure (see LastLoadError).
LibHandle OpenLibrary(const char* path, unsigned flags = kLoadLocal);
// The library at path when this process already has it loaded (one more
// reference, to be closed with CloseLibrary), else null; never loads it.
LibHandle LoadedLibrary(const char* path);
// Looks a symbol up by name; null when absent or when lib is null.
void* FindSymbol(LibHandle lib, const char* name);
// Unloads a library previously returned by OpenLibrary; null is ignored.
void CloseLibrary(LibHandle lib);
// Text of the last OpenLibrary/FindSymbol failure on this thread.
std::string LastLoadError();

// File name of a shared library of this build for its base name:
// "libNAME.so" on POSIX, "NAME.dll" on Windows.
std::string SharedLibraryFileName(const std::string& name);

// Absolute path of the running program, "" when it cannot be told.
std::string ExecutablePath();
// Path of the device that discards what is written to it.
const char* NullDevicePath();
// Makes a standard stream carry bytes unchanged (no newline translation).
void SetBinaryMode(FILE* stream);
// This process's identifier.
long ProcessId();
// Sets an environment variable of this process (overwriting).
bool SetEnv(const char* name, const char* value);
// Renames a file, replacing a file already at the new name in one step, as
// POSIX rename does (Windows' C rename refuses an existing target).
bool RenameReplacing(const char* from, const char* to);

// True where RunInChildProcess starts another process: POSIX, which has
// fork; false on Windows.
inline constexpr bool kCanForkChild = !kWindows;
// Runs fn in a forked copy of this process and waits for it.  Answers the
// child's exit status (fn's result), 128 + the signal number when a signal
// ended it, and -1 when no child could be started (always where
// kCanForkChild is false).  Buffered standard output is flushed first, so
// neither process writes it twice.
int RunInChildProcess(const std::function<int()>& fn);
// Opens an unnamed pipe of bytes: fds[0] reads, fds[1] writes.  On POSIX
// the write end never blocks (what does not fit the pipe, 64 KiB on Linux,
// is dropped); on Windows the pipe holds 1 MiB.  False on failure.
bool OpenCapturePipe(int fds[2]);

// High-resolution monotonic clock.
int64_t ClockTicks();
int64_t ClockTicksPerSecond();
// Milliseconds between two ClockTicks() readings.
double TicksToMs(int64_t begin, int64_t end);

// True where libraries loaded at run time must stay mapped at exit: in
// builds that check for leaks (AddressSanitizer), so what they allocated
// is still attributed to them by name, and on Windows, where a DLL's exit
// handlers run inside the loader's detach notification, from which no
// library may be freed.
bool KeepLibrariesAtExit();

// The OpenCL library names tried in order: the plain name first, then the
// absolute path of the system's copy.
std::vector<std::string> OpenClLibraryNames();

}  // namespace platform
