#include "opencl/cl_dispatch.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace opencl {

const char* const kLogLoadFromPathOk = "LoadLibraryFromPath %s successfully!\n";
const char* const kLogLoadFailed = "Load %s failed!\n";
const char* const kLogLoadOk = "Load %s succesfully!\n";
const char* const kLogGetFunctionOk = "Get function %s successfully!\n";
const char* const kLogGetFunctionFailed = "Get function %s failed!\n";

const char* const kClEntryPointNames[kClEntryPointCount] = {
#define OX_CL_NAME(name) #name,
    OX_CL_ENTRY_POINTS(OX_CL_NAME)
#undef OX_CL_NAME
};

int ClEntryPoints::FilledSlots() const {
  int n = 0;
#define OX_CL_COUNT(name) n += (name != nullptr) ? 1 : 0;
  OX_CL_ENTRY_POINTS(OX_CL_COUNT)
#undef OX_CL_COUNT
  return n;
}

namespace {

// Looks one entry point up unless its slot is already filled; returns
// whether the slot is filled afterwards.
template <typename Fn>
bool Resolve(platform::LibHandle lib, const char* name, Fn& slot, int& resolvedCount) {
  if (slot == nullptr) {
    slot = reinterpret_cast<Fn>(platform::FindSymbol(lib, name));
    if (slot != nullptr) ++resolvedCount;
  }
  return slot != nullptr;
}

}  // namespace

// Loading differs from a literal first-library-wins search in two ways:
//  - A library that loads but lacks a required entry point does not end the
//    search: it is kept aside and the next path is tried.  A complete library
//    found later replaces it (the passed-over handle is closed); only when no
//    path gives a complete library is the first partial one used.  A library
//    that resolves nothing at all is closed at once.  allRequiredFound
//    describes the outcome: true with a complete library or when no library
//    loaded at all, false when libraries loaded but none was complete.
//  - Every attempt resolves into fresh slots, so entry points of a
//    passed-over library never mix with those of the library in use.
ClDispatchTable::ClDispatchTable(const std::vector<std::string>& paths) {
  ClEntryPoints fallbackSlots;
  platform::LibHandle fallbackModule = nullptr;
  int fallbackCount = 0;
  std::string fallbackPath;
  bool complete = false;
  bool sawIncomplete = false;

  for (const std::string& path : paths) {
    const AttemptResult r = Attempt(path);
    if (r == AttemptResult::kNotLoaded) continue;
    if (r == AttemptResult::kComplete) {
      complete = true;
      break;
    }
    sawIncomplete = true;
    if (r == AttemptResult::kNothingResolved) continue;
    // Partial: keep the first one aside, close any later one.
    if (fallbackModule == nullptr) {
      fallbackSlots = static_cast<const ClEntryPoints&>(*this);
      fallbackModule = module;
      fallbackCount = resolvedCount;
      fallbackPath = path;
    } else {
      platform::CloseLibrary(module);
    }
    static_cast<ClEntryPoints&>(*this) = ClEntryPoints();
    module = nullptr;
    resolvedCount = 0;
  }

  if (complete) {
    if (fallbackModule != nullptr) platform::CloseLibrary(fallbackModule);
  } else if (fallbackModule != nullptr) {
    static_cast<ClEntryPoints&>(*this) = fallbackSlots;
    module = fallbackModule;
    resolvedCount = fallbackCount;
    loadedPath = fallbackPath;
  }
  allRequiredFound = complete || !sawIncomplete;
  if (module != nullptr) std::printf(kLogLoadFromPathOk, loadedPath.c_str());
}

ClDispatchTable::AttemptResult ClDispatchTable::Attempt(const std::string& path) {
  static_cast<ClEntryPoints&>(*this) = ClEntryPoints();
  resolvedCount = 0;
  module = platform::OpenLibrary(path.c_str());
  if (module == nullptr) {
    std::printf(kLogLoadFailed, path.c_str());
    return AttemptResult::kNotLoaded;
  }
  std::printf(kLogLoadOk, path.c_str());

  bool complete = true;
  requiredPhase = true;
#define OX_CL_RESOLVE(name) complete &= Resolve(module, #name, name, resolvedCount);
  OX_CL_REQUIRED_ENTRY_POINTS_1_52(OX_CL_RESOLVE)
#undef OX_CL_RESOLVE
#define OX_CL_RESOLVE_LOGGED(name)                                      \
  {                                                                     \
    const bool ok = Resolve(module, #name, name, resolvedCount);        \
    if (requiredPhase) complete &= ok;                                  \
    std::printf(ok ? kLogGetFunctionOk : kLogGetFunctionFailed, #name); \
  }
  OX_CL_REQUIRED_ENTRY_POINT_53(OX_CL_RESOLVE_LOGGED)
  requiredPhase = false;
  OX_CL_OPTIONAL_ENTRY_POINTS(OX_CL_RESOLVE_LOGGED)
#undef OX_CL_RESOLVE_LOGGED

  if (resolvedCount == 0) {
    // Loads, but is no OpenCL library: passed over.
    platform::CloseLibrary(module);
    module = nullptr;
    return AttemptResult::kNothingResolved;
  }
  loadedPath = path;
  return complete ? AttemptResult::kComplete : AttemptResult::kPartial;
}

ClDispatchTable::~ClDispatchTable() { ReleaseLibrary(); }

void ClDispatchTable::ReleaseLibrary() {
  static_cast<ClEntryPoints&>(*this) = ClEntryPoints();
  if (module != nullptr) platform::CloseLibrary(module);
  module = nullptr;
}

namespace {

std::mutex& PathsMutex() {
  static std::mutex m;
  return m;
}

std::vector<std::string>& ProcessPaths() {
  static std::vector<std::string> paths = platform::OpenClLibraryNames();
  return paths;
}

bool g_tableCreated = false;  // guarded by PathsMutex()

ClDispatchTable* g_processTable = nullptr;

void ReleaseProcessTable() {
  if (g_processTable == nullptr) return;
  if (platform::KeepLibrariesAtExit()) {
    // Slots cleared, library left mapped: on Windows, where this exit
    // handler of the extension DLL runs inside the loader's detach
    // notification and no library may be freed from there, and in
    // leak-checking builds, so what the library allocated is still
    // attributed to it by name.  Everywhere else it is freed below.
    static_cast<ClEntryPoints&>(*g_processTable) = ClEntryPoints();
    return;
  }
  g_processTable->ReleaseLibrary();
}

ClDispatchTable* CreateProcessTable() {
  std::vector<std::string> paths;
  {
    std::lock_guard<std::mutex> lock(PathsMutex());
    g_tableCreated = true;
    paths = ProcessPaths();
  }
  // The table itself is never destroyed, so a call that comes in during
  // process exit still finds it (with empty slots, answering -32 or null).
  // At exit the slots are cleared first and the library freed after,
  // except where it stays mapped (ReleaseProcessTable).
  g_processTable = new ClDispatchTable(paths);
  std::atexit(ReleaseProcessTable);
  return g_processTable;
}

// Built while the library is loaded, like every other static table.
const bool g_pathsBuilt = !ProcessPaths().empty();

}  // namespace

const std::vector<std::string>& OpenClLibraryPaths() {
  (void)g_pathsBuilt;
  return ProcessPaths();
}

bool SetProcessClLibraryPaths(const std::vector<std::string>& paths) {
  std::lock_guard<std::mutex> lock(PathsMutex());
  if (g_tableCreated) return false;
  ProcessPaths() = paths;
  return true;
}

const ClDispatchTable& ProcessClTable() {
  static ClDispatchTable* const table = CreateProcessTable();
  return *table;
}

}  // namespace opencl

// ---------------------------------------------------------------------------
// The OpenCL API functions the library calls.  Defined here with the Khronos
// signatures; hidden like every symbol of the library, so they are neither
// exported nor bound to another library's definitions.  Unbound entry points
// answer CL_INVALID_PLATFORM, or null without writing errcode_ret.

namespace {

template <typename Fn, typename... Args>
cl_int CallStatus(Fn fn, Args... args) {
  return fn != nullptr ? fn(args...) : CL_INVALID_PLATFORM;
}

template <typename Fn, typename... Args>
auto CallHandle(Fn fn, Args... args) -> decltype(fn(args...)) {
  return fn != nullptr ? fn(args...) : nullptr;
}

const opencl::ClDispatchTable& T() { return opencl::ProcessClTable(); }

}  // namespace

#define OX_FWD_STATUS(name, params, args) \
  extern "C" CL_API_ENTRY cl_int CL_API_CALL name params { return CallStatus(T().name, args); }
#define OX_FWD_HANDLE(type, name, params, args) \
  extern "C" CL_API_ENTRY type CL_API_CALL name params { return CallHandle(T().name, args); }
#define OX_ARGS(...) __VA_ARGS__

OX_FWD_STATUS(clBuildProgram,
              (cl_program program, cl_uint num_devices, const cl_device_id* device_list,
               const char* options, void(CL_CALLBACK* pfn_notify)(cl_program, void*), void* user_data),
              OX_ARGS(program, num_devices, device_list, options, pfn_notify, user_data))
OX_FWD_STATUS(clCreateKernelsInProgram,
              (cl_program program, cl_uint num_kernels, cl_kernel* kernels, cl_uint* num_kernels_ret),
              OX_ARGS(program, num_kernels, kernels, num_kernels_ret))
OX_FWD_STATUS(clEnqueueCopyImageToBuffer,
              (cl_command_queue q, cl_mem src_image, cl_mem dst_buffer, const size_t* src_origin,
               const size_t* region, size_t dst_offset, cl_uint num_events, const cl_event* wait_list,
               cl_event* event),
              OX_ARGS(q, src_image, dst_buffer, src_origin, region, dst_offset, num_events, wait_list,
                      event))
OX_FWD_STATUS(clEnqueueFillBuffer,
              (cl_command_queue q, cl_mem buffer, const void* pattern, size_t pattern_size, size_t offset,
               size_t size, cl_uint num_events, const cl_event* wait_list, cl_event* event),
              OX_ARGS(q, buffer, pattern, pattern_size, offset, size, num_events, wait_list, event))
OX_FWD_STATUS(clEnqueueNDRangeKernel,
              (cl_command_queue q, cl_kernel kernel, cl_uint work_dim, const size_t* global_offset,
               const size_t* global_size, const size_t* local_size, cl_uint num_events,
               const cl_event* wait_list, cl_event* event),
              OX_ARGS(q, kernel, work_dim, global_offset, global_size, local_size, num_events, wait_list,
                      event))
OX_FWD_STATUS(clEnqueueReadBuffer,
              (cl_command_queue q, cl_mem buffer, cl_bool blocking, size_t offset, size_t size, void* ptr,
               cl_uint num_events, const cl_event* wait_list, cl_event* event),
              OX_ARGS(q, buffer, blocking, offset, size, ptr, num_events, wait_list, event))
OX_FWD_STATUS(clEnqueueReadImage,
              (cl_command_queue q, cl_mem image, cl_bool blocking, const size_t* origin,
               const size_t* region, size_t row_pitch, size_t slice_pitch, void* ptr, cl_uint num_events,
               const cl_event* wait_list, cl_event* event),
              OX_ARGS(q, image, blocking, origin, region, row_pitch, slice_pitch, ptr, num_events,
                      wait_list, event))
OX_FWD_STATUS(clEnqueueUnmapMemObject,
              (cl_command_queue q, cl_mem memobj, void* mapped_ptr, cl_uint num_events,
               const cl_event* wait_list, cl_event* event),
              OX_ARGS(q, memobj, mapped_ptr, num_events, wait_list, event))
OX_FWD_STATUS(clEnqueueWriteBuffer,
              (cl_command_queue q, cl_mem buffer, cl_bool blocking, size_t offset, size_t size,
               const void* ptr, cl_uint num_events, const cl_event* wait_list, cl_event* event),
              OX_ARGS(q, buffer, blocking, offset, size, ptr, num_events, wait_list, event))
OX_FWD_STATUS(clEnqueueWriteImage,
              (cl_command_queue q, cl_mem image, cl_bool blocking, const size_t* origin,
               const size_t* region, size_t input_row_pitch, size_t input_slice_pitch, const void* ptr,
               cl_uint num_events, const cl_event* wait_list, cl_event* event),
              OX_ARGS(q, image, blocking, origin, region, input_row_pitch, input_slice_pitch, ptr,
                      num_events, wait_list, event))
OX_FWD_STATUS(clFinish, (cl_command_queue q), OX_ARGS(q))
OX_FWD_STATUS(clFlush, (cl_command_queue q), OX_ARGS(q))
OX_FWD_STATUS(clGetDeviceIDs,
              (cl_platform_id platform, cl_device_type device_type, cl_uint num_entries,
               cl_device_id* devices, cl_uint* num_devices),
              OX_ARGS(platform, device_type, num_entries, devices, num_devices))
OX_FWD_STATUS(clGetDeviceInfo,
              (cl_device_id device, cl_device_info param_name, size_t param_value_size, void* param_value,
               size_t* param_value_size_ret),
              OX_ARGS(device, param_name, param_value_size, param_value, param_value_size_ret))
OX_FWD_STATUS(clGetEventProfilingInfo,
              (cl_event event, cl_profiling_info param_name, size_t param_value_size, void* param_value,
               size_t* param_value_size_ret),
              OX_ARGS(event, param_name, param_value_size, param_value, param_value_size_ret))
OX_FWD_STATUS(clGetImageInfo,
              (cl_mem image, cl_image_info param_name, size_t param_value_size, void* param_value,
               size_t* param_value_size_ret),
              OX_ARGS(image, param_name, param_value_size, param_value, param_value_size_ret))
OX_FWD_STATUS(clGetKernelInfo,
              (cl_kernel kernel, cl_kernel_info param_name, size_t param_value_size, void* param_value,
               size_t* param_value_size_ret),
              OX_ARGS(kernel, param_name, param_value_size, param_value, param_value_size_ret))
OX_FWD_STATUS(clGetKernelWorkGroupInfo,
              (cl_kernel kernel, cl_device_id device, cl_kernel_work_group_info param_name,
               size_t param_value_size, void* param_value, size_t* param_value_size_ret),
              OX_ARGS(kernel, device, param_name, param_value_size, param_value, param_value_size_ret))
OX_FWD_STATUS(clGetPlatformIDs, (cl_uint num_entries, cl_platform_id* platforms, cl_uint* num_platforms),
              OX_ARGS(num_entries, platforms, num_platforms))
OX_FWD_STATUS(clGetPlatformInfo,
              (cl_platform_id platform, cl_platform_info param_name, size_t param_value_size,
               void* param_value, size_t* param_value_size_ret),
              OX_ARGS(platform, param_name, param_value_size, param_value, param_value_size_ret))
OX_FWD_STATUS(clGetProgramBuildInfo,
              (cl_program program, cl_device_id device, cl_program_build_info param_name,
               size_t param_value_size, void* param_value, size_t* param_value_size_ret),
              OX_ARGS(program, device, param_name, param_value_size, param_value, param_value_size_ret))
OX_FWD_STATUS(clGetProgramInfo,
              (cl_program program, cl_program_info param_name, size_t param_value_size, void* param_value,
               size_t* param_value_size_ret),
              OX_ARGS(program, param_name, param_value_size, param_value, param_value_size_ret))
OX_FWD_STATUS(clGetSupportedImageFormats,
              (cl_context context, cl_mem_flags flags, cl_mem_object_type image_type,
               cl_uint num_entries, cl_image_format* image_formats, cl_uint* num_image_formats),
              OX_ARGS(context, flags, image_type, num_entries, image_formats, num_image_formats))
OX_FWD_STATUS(clReleaseCommandQueue, (cl_command_queue q), OX_ARGS(q))
OX_FWD_STATUS(clReleaseContext, (cl_context context), OX_ARGS(context))
OX_FWD_STATUS(clReleaseKernel, (cl_kernel kernel), OX_ARGS(kernel))
OX_FWD_STATUS(clReleaseMemObject, (cl_mem memobj), OX_ARGS(memobj))
OX_FWD_STATUS(clReleaseProgram, (cl_program program), OX_ARGS(program))
OX_FWD_STATUS(clSetKernelArg,
              (cl_kernel kernel, cl_uint arg_index, size_t arg_size, const void* arg_value),
              OX_ARGS(kernel, arg_index, arg_size, arg_value))
OX_FWD_STATUS(clWaitForEvents, (cl_uint num_events, const cl_event* event_list),
              OX_ARGS(num_events, event_list))

OX_FWD_HANDLE(cl_mem, clCreateBuffer,
              (cl_context context, cl_mem_flags flags, size_t size, void* host_ptr, cl_int* errcode_ret),
              OX_ARGS(context, flags, size, host_ptr, errcode_ret))
OX_FWD_HANDLE(cl_command_queue, clCreateCommandQueue,
              (cl_context context, cl_device_id device, cl_command_queue_properties properties,
               cl_int* errcode_ret),
              OX_ARGS(context, device, properties, errcode_ret))
OX_FWD_HANDLE(cl_context, clCreateContext,
              (const cl_context_properties* properties, cl_uint num_devices, const cl_device_id* devices,
               void(CL_CALLBACK* pfn_notify)(const char*, const void*, size_t, void*), void* user_data,
               cl_int* errcode_ret),
              OX_ARGS(properties, num_devices, devices, pfn_notify, user_data, errcode_ret))
OX_FWD_HANDLE(cl_mem, clCreateImage,
              (cl_context context, cl_mem_flags flags, const cl_image_format* image_format,
               const cl_image_desc* image_desc, void* host_ptr, cl_int* errcode_ret),
              OX_ARGS(context, flags, image_format, image_desc, host_ptr, errcode_ret))
OX_FWD_HANDLE(cl_kernel, clCreateKernel, (cl_program program, const char* kernel_name, cl_int* errcode_ret),
              OX_ARGS(program, kernel_name, errcode_ret))
OX_FWD_HANDLE(cl_program, clCreateProgramWithBinary,
              (cl_context context, cl_uint num_devices, const cl_device_id* device_list,
               const size_t* lengths, const unsigned char** binaries, cl_int* binary_status,
               cl_int* errcode_ret),
              OX_ARGS(context, num_devices, device_list, lengths, binaries, binary_status, errcode_ret))
OX_FWD_HANDLE(cl_program, clCreateProgramWithSource,
              (cl_context context, cl_uint count, const char** strings, const size_t* lengths,
               cl_int* errcode_ret),
              OX_ARGS(context, count, strings, lengths, errcode_ret))
OX_FWD_HANDLE(void*, clEnqueueMapBuffer,
              (cl_command_queue q, cl_mem buffer, cl_bool blocking, cl_map_flags map_flags, size_t offset,
               size_t size, cl_uint num_events, const cl_event* wait_list, cl_event* event,
               cl_int* errcode_ret),
              OX_ARGS(q, buffer, blocking, map_flags, offset, size, num_events, wait_list, event,
                      errcode_ret))
OX_FWD_HANDLE(void*, clEnqueueMapImage,
              (cl_command_queue q, cl_mem image, cl_bool blocking, cl_map_flags map_flags,
               const size_t* origin, const size_t* region, size_t* image_row_pitch,
               size_t* image_slice_pitch, cl_uint num_events, const cl_event* wait_list, cl_event* event,
               cl_int* errcode_ret),
              OX_ARGS(q, image, blocking, map_flags, origin, region, image_row_pitch, image_slice_pitch,
                      num_events, wait_list, event, errcode_ret))
