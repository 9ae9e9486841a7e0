// The OpenCL device of the engine's layer tests (the shared engine with the
// engine program, see cl_engine_env.h) and launches counted by kernel name.
#pragma once

#include "tests/engine/cl_engine_env.h"

namespace cltest {

inline opencl::clEngine* Device() { return testutil::EngineWithProgram(); }

// Successful launches of the named kernel so far in this process; -1 when
// the counting library is not in use.
inline long NamedEnqueues(const char* kernel) {
  using Fn = long (*)(const char*);
  static Fn fn = [] {
    const char* path = testutil::EngineTestClLibrary();
    platform::LibHandle lib = path != nullptr ? platform::LoadedLibrary(path) : nullptr;
    return lib != nullptr
               ? reinterpret_cast<Fn>(platform::FindSymbol(lib, "persona_enqueue_count_named"))
               : nullptr;
  }();
  return fn != nullptr ? fn(kernel) : -1;
}

// Whether launches are counted: the counting library is in use (not on a
// system without the device persona).
inline bool CountsLaunches() { return NamedEnqueues("") >= 0; }

}  // namespace cltest
