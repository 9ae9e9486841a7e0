// Runs a test case in a forked child so a crash is told apart from a
// failure and process-wide state (loaded libraries, host records) stays
// out of the parent.
//
// Windows has no fork: there the case runs in the test process itself, so
// a crash ends the whole test program, and a case that loads a library
// must unload it again (ScopedLibrary) before the next case expects a
// fresh load.  platform/platform.h says which applies.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace testutil {

// True where RunInChild really starts another process.
constexpr bool kChildIsAProcess = platform::kCanForkChild;

// Exit code of fn() in a child, or 128 + signal number when it crashed
// (-1 when no child could be started).  Without fork, fn() runs here.
inline int RunInChild(const std::function<int()>& fn) {
  std::fflush(nullptr);
  if (!kChildIsAProcess) return fn();
  return platform::RunInChildProcess(fn);
}

// A library loaded by a case, unloaded when the case returns (on every
// path), so the next case can load it afresh even in the same process.
// before_close runs first, to drop what still points into the library.
class ScopedLibrary {
 public:
  explicit ScopedLibrary(const std::string& path, std::function<void()> before_close = {})
      : handle_(platform::OpenLibrary(path.c_str())), before_close_(std::move(before_close)) {}
  ~ScopedLibrary() {
    if (before_close_) before_close_();
    platform::CloseLibrary(handle_);
  }
  ScopedLibrary(const ScopedLibrary&) = delete;
  ScopedLibrary& operator=(const ScopedLibrary&) = delete;
  platform::LibHandle get() const { return handle_; }

 private:
  platform::LibHandle handle_;
  std::function<void()> before_close_;
};

}  // namespace testutil
