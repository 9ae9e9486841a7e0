// Bringing up a clEngine on this machine's OpenCL CPU device for tests.
#pragma once

#include <string>

#include "capture_stdout.h"
#include "opencl/cl_dispatch.h"
#include "opencl/cl_engine.h"

namespace testutil {

// Vendor code of the first CPU device, derived from its vendor text (the
// CPU device reports the processor maker): 5 for Intel, 4 for AMD, -1 when
// there is none.
inline int CpuVendorCode(std::string* vendorUpper = nullptr) {
  cl_platform_id p[8];
  cl_uint n = 0;
  if (clGetPlatformIDs(8, p, &n) != CL_SUCCESS) return -1;
  for (cl_uint i = 0; i < n && i < 8; ++i) {
    cl_device_id d = nullptr;
    cl_uint nd = 0;
    if (clGetDeviceIDs(p[i], CL_DEVICE_TYPE_CPU, 1, &d, &nd) != CL_SUCCESS) continue;
    const std::string upper =
        opencl::AsciiUpper(opencl::QueryDeviceText(d, CL_DEVICE_VENDOR, 256));
    if (vendorUpper != nullptr) *vendorUpper = upper;
    if (opencl::DeviceVendorMatches(upper, opencl::kVendorIntelCpu)) return opencl::kVendorIntelCpu;
    if (opencl::DeviceVendorMatches(upper, opencl::kVendorAmdCpu)) return opencl::kVendorAmdCpu;
  }
  return -1;
}

// Initialises the engine on the CPU device with its log kept out of the
// test output.
inline bool InitOnCpu(opencl::clEngine& engine, bool profiling) {
  {
    CaptureStdout quiet;
    opencl::ProcessClTable();
  }
  const int code = CpuVendorCode();
  if (code < 0) return false;
  CaptureStdout quiet;
  return engine.Init(code, profiling, false);
}

}  // namespace testutil
