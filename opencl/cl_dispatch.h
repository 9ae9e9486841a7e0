// Run-time binding of the system's OpenCL library.
//
// percept_ext never links against OpenCL.  The first use of the dispatch
// table loads the ICD loader from the list of library paths, resolves the 55
// entry points below by name, and the library's own definitions of the
// OpenCL API functions (cl_dispatch.cpp) call through the table.  With no
// OpenCL on the machine every status-returning call answers
// CL_INVALID_PLATFORM (-32) and every handle-returning call answers null
// without touching the caller's error out-parameter.
#pragma once

#include <CL/cl.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace opencl {

// Entry points 1 to 52, in the order they are looked up.  All required.
#define OX_CL_REQUIRED_ENTRY_POINTS_1_52(X) \
  X(clGetPlatformIDs)                       \
  X(clGetPlatformInfo)                      \
  X(clBuildProgram)                         \
  X(clEnqueueNDRangeKernel)                 \
  X(clSetKernelArg)                         \
  X(clReleaseKernel)                        \
  X(clCreateProgramWithSource)              \
  X(clCreateBuffer)                         \
  X(clCreateImage)                          \
  X(clCreateImage2D)                        \
  X(clRetainKernel)                         \
  X(clCreateKernel)                         \
  X(clGetProgramInfo)                       \
  X(clFlush)                                \
  X(clFinish)                               \
  X(clReleaseProgram)                       \
  X(clRetainContext)                        \
  X(clGetContextInfo)                       \
  X(clCreateProgramWithBinary)              \
  X(clCreateCommandQueue)                   \
  X(clReleaseCommandQueue)                  \
  X(clEnqueueMapBuffer)                     \
  X(clEnqueueMapImage)                      \
  X(clRetainProgram)                        \
  X(clGetProgramBuildInfo)                  \
  X(clEnqueueReadBuffer)                    \
  X(clEnqueueWriteBuffer)                   \
  X(clWaitForEvents)                        \
  X(clReleaseEvent)                         \
  X(clCreateContext)                        \
  X(clCreateContextFromType)                \
  X(clReleaseContext)                       \
  X(clRetainCommandQueue)                   \
  X(clEnqueueUnmapMemObject)                \
  X(clRetainMemObject)                      \
  X(clReleaseMemObject)                     \
  X(clGetDeviceInfo)                        \
  X(clGetDeviceIDs)                         \
  X(clRetainDevice)                         \
  X(clReleaseDevice)                        \
  X(clRetainEvent)                          \
  X(clGetKernelWorkGroupInfo)               \
  X(clGetEventInfo)                         \
  X(clGetEventProfilingInfo)                \
  X(clGetImageInfo)                         \
  X(clEnqueueCopyImage)                     \
  X(clGetKernelInfo)                        \
  X(clCreateKernelsInProgram)               \
  X(clEnqueueReadImage)                     \
  X(clEnqueueWriteImage)                    \
  X(clGetSupportedImageFormats)             \
  X(clEnqueueCopyImageToBuffer)

// Entry point 53, the last required one; its outcome is logged.
#define OX_CL_REQUIRED_ENTRY_POINT_53(X) X(clEnqueueFillBuffer)

// Entry points 54 and 55: optional, logged, never affect allRequiredFound.
#define OX_CL_OPTIONAL_ENTRY_POINTS(X) \
  X(clGetKernelSubGroupInfo)           \
  X(clGetKernelSubGroupInfoKHR)

// All 55 in lookup order.
#define OX_CL_ENTRY_POINTS(X)          \
  OX_CL_REQUIRED_ENTRY_POINTS_1_52(X)  \
  OX_CL_REQUIRED_ENTRY_POINT_53(X)     \
  OX_CL_OPTIONAL_ENTRY_POINTS(X)

constexpr int kClEntryPointCount = 55;
constexpr int kClRequiredEntryPointCount = 53;

// Names of the 55 entry points in lookup order.
extern const char* const kClEntryPointNames[kClEntryPointCount];

// Function types of the two sub-group queries, which the OpenCL 2.0
// headers we build against do not declare.
using PfnGetKernelSubGroupInfo = cl_int(CL_API_CALL*)(cl_kernel, cl_device_id, cl_uint, size_t,
                                                       const void*, size_t, void*, size_t*);

// One typed function-pointer slot per entry point, each null until
// resolved.
struct ClEntryPoints {
#define OX_CL_SLOT(name) decltype(&::name) name = nullptr;
  OX_CL_REQUIRED_ENTRY_POINTS_1_52(OX_CL_SLOT)
  OX_CL_REQUIRED_ENTRY_POINT_53(OX_CL_SLOT)
#undef OX_CL_SLOT
  PfnGetKernelSubGroupInfo clGetKernelSubGroupInfo = nullptr;
  PfnGetKernelSubGroupInfo clGetKernelSubGroupInfoKHR = nullptr;

  // Number of non-null slots (0 to 55).
  int FilledSlots() const;
};

class ClDispatchTable : public ClEntryPoints {
 public:
  // Tries the paths in order and keeps the first library that provides
  // every required entry point; when none does, the first that provides
  // some (allRequiredFound false).  Prints the loader log on standard
  // output.
  explicit ClDispatchTable(const std::vector<std::string>& paths);
  // Clears the slots, then frees the library.
  ~ClDispatchTable();

  ClDispatchTable(const ClDispatchTable&) = delete;
  ClDispatchTable& operator=(const ClDispatchTable&) = delete;

  // Clears every slot and only then frees the library, so nothing is left
  // pointing into unmapped code.  Safe to call twice.
  void ReleaseLibrary();

  platform::LibHandle module = nullptr;  // loaded library, null if none
  int resolvedCount = 0;                 // entry points resolved from the library in use
  bool requiredPhase = false;            // true while required entry points are looked up
  bool allRequiredFound = true;          // false when libraries loaded but none had all 53
  std::string loadedPath;                // path of the library in use, empty if none

 private:
  enum class AttemptResult { kNotLoaded, kNothingResolved, kPartial, kComplete };
  AttemptResult Attempt(const std::string& path);
};

// Fixed texts of the loader log.
extern const char* const kLogLoadFromPathOk;  // "LoadLibraryFromPath %s successfully!\n"
extern const char* const kLogLoadFailed;      // "Load %s failed!\n"
extern const char* const kLogLoadOk;          // "Load %s succesfully!\n"
extern const char* const kLogGetFunctionOk;   // "Get function %s successfully!\n"
extern const char* const kLogGetFunctionFailed;  // "Get function %s failed!\n"

// The OpenCL library paths tried by the process-wide table, in order: the
// plain library name, then the system's absolute path.
const std::vector<std::string>& OpenClLibraryPaths();

// The process-wide table, created on first call (thread-safe one-time
// initialisation) from OpenClLibraryPaths(); lives until process exit, when
// its slots are cleared and the library freed.
const ClDispatchTable& ProcessClTable();

// Test seam: replaces the path list used when the process-wide table is
// created.  Returns false (and changes nothing) once the table exists.
bool SetProcessClLibraryPaths(const std::vector<std::string>& paths);

}  // namespace opencl
