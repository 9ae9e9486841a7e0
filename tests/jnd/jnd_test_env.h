// Where the JND tests run: on this machine's CPU device through its
// derived vendor code, or, when OXRIN_TEST_CL_LIBRARY names the device
// persona, on the GPU the persona presents (OXRIN_CL_PERSONA).
#pragma once

#include <cstdlib>
#include <string>

#include "engine_fixture.h"
#include "opencl/cl_dispatch.h"

namespace testutil {

inline const char* PersonaName() {
  const char* p = std::getenv("OXRIN_CL_PERSONA");
  return (p != nullptr && std::getenv("OXRIN_TEST_CL_LIBRARY") != nullptr) ? p : nullptr;
}

// Points the process-wide OpenCL table at the persona when asked; call
// before any OpenCL use.
inline void SelectOpenClLibrary() {
  static bool done = false;
  if (done) return;
  done = true;
  if (const char* lib = std::getenv("OXRIN_TEST_CL_LIBRARY")) opencl::SetProcessClLibraryPaths({lib});
  CaptureStdout quiet;
  opencl::ProcessClTable();
}

// Preferred device kind for the filter: automatic (0) under a persona,
// else the CPU device's own vendor code.
inline int TestDeviceKind() {
  SelectOpenClLibrary();
  return PersonaName() ? 0 : CpuVendorCode();
}

}  // namespace testutil
