// A process-wide OpenCL engine with the engine program built once (plain
// and buffer-out variants), for the tests that drive engine kernels.
//
// OpenCL is reached through the device persona library, which forwards
// every call to the real loader and counts the kernels enqueued, so a test
// can check that the device really ran what it claims.  Without
// OXRIN_CL_PERSONA the persona changes nothing and the engine runs on this
// machine's CPU device (its derived vendor code); with it, on the GPU the
// persona presents.  OXRIN_TEST_CL_LIBRARY names another library instead.
// The program takes the device compiler a while, so every test of a
// process shares it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "opencl/cl_dispatch.h"
#include "opencl/cl_engine.h"
#include "platform/platform.h"
#include "tests/opencl/capture_stdout.h"
#include "tests/opencl/engine_fixture.h"
#include "tools/netrun/engine_program.h"
#include "tools/persona/persona_api.h"

namespace testutil {

// The library the tests reach OpenCL through; null for the system's own
// (a test target built without OXRIN_PERSONA_LIBRARY).
inline const char* EngineTestClLibrary() {
  const char* lib = std::getenv("OXRIN_TEST_CL_LIBRARY");
  if (lib != nullptr) return lib;
#ifdef OXRIN_PERSONA_LIBRARY
  return OXRIN_PERSONA_LIBRARY;
#else
  return nullptr;
#endif
}

// Points the process-wide OpenCL table at the counting library; call
// before any other OpenCL use.
inline void SelectCountingClLibrary() {
  static bool done = false;
  if (done) return;
  done = true;
  if (const char* lib = EngineTestClLibrary()) opencl::SetProcessClLibraryPaths({lib});
  CaptureStdout quiet;
  opencl::ProcessClTable();
}

// Kernels enqueued so far through the persona library; -1 when another
// library is in use.
inline long EnqueueCount() {
  static persona_counter_fn count = []() -> persona_counter_fn {
    if (EngineTestClLibrary() == nullptr) return nullptr;
    platform::LibHandle lib = platform::LoadedLibrary(EngineTestClLibrary());
    return lib == nullptr
               ? nullptr
               : reinterpret_cast<persona_counter_fn>(
                     platform::FindSymbol(lib, "persona_enqueue_count"));
  }();
  return count != nullptr ? count() : -1;
}

// Brings up an engine on the test device; false when there is none.
inline bool InitTestEngine(opencl::clEngine& engine) {
  SelectCountingClLibrary();
  const char* persona = std::getenv("OXRIN_CL_PERSONA");
  const int kind = (persona != nullptr && *persona != '\0') ? 0 : CpuVendorCode();
  if (kind < 0) return false;
  CaptureStdout quiet;
  return engine.Init(kind, false, false);
}

// The shared engine with the default engine program, or nullptr (with the
// reason printed once) when the device or the build failed.
inline opencl::clEngine* EngineWithProgram() {
  static std::unique_ptr<opencl::clEngine> engine;
  static bool tried = false;
  if (tried) return engine.get();
  tried = true;
  auto e = std::make_unique<opencl::clEngine>();
  if (!InitTestEngine(*e)) {
    std::fprintf(stderr, "no OpenCL device for the engine kernels\n");
    return nullptr;
  }
  std::string error;
  if (!netrun::BuildEngineProgram(*e, netrun::DefaultEngineVariants(), &error)) {
    std::fprintf(stderr, "engine program does not build:\n%s\n", error.c_str());
    return nullptr;
  }
  engine = std::move(e);
  return engine.get();
}

}  // namespace testutil
