/* Fake OpenCL library for loader and device-choice tests.
 *
 * Exports the 55 entry points of the dispatch table (some left out by the
 * FAKE_CL_OMIT_* switches) and the control functions of fake_cl_control.h.
 * Platforms and devices are what the test describes; the other calls hand
 * out distinct dummy handles and succeed, so a caller can create a context
 * and a command queue.  Nothing is computed.
 */
#include <CL/cl.h>
#include <CL/cl_ext.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fake_cl_control.h"

#define FAKE_MAX_TEXT 512
#define FAKE_MAX_ENTRY 64

struct fake_platform {
  char vendor[FAKE_MAX_TEXT];
};

struct fake_device {
  int platform;
  cl_device_type type;
  char vendor[FAKE_MAX_TEXT];
  char name[FAKE_MAX_TEXT];
  char version[FAKE_MAX_TEXT];
  char extensions[FAKE_MAX_TEXT];
};

struct fake_counter {
  char name[FAKE_MAX_ENTRY];
  int calls;
  cl_int forced;
};

struct fake_ids_call {
  int platform;
  cl_device_type type;
  cl_uint num_entries;
};

static struct fake_platform g_platforms[FAKE_CL_MAX_PLATFORMS];
static int g_platform_count;
static struct fake_device g_devices[FAKE_CL_MAX_DEVICES];
static int g_device_count;
static struct fake_counter g_counters[128];
static int g_counter_count;
static struct fake_ids_call g_ids_log[FAKE_CL_MAX_LOG];
static int g_ids_log_count;
static int g_last_context_device = -1;
static int g_live;
static char g_objects[4096]; /* dummy handles point into this block */
static int g_next_object;

static void copy_text(char* dst, const char* src) {
  strncpy(dst, src ? src : "", FAKE_MAX_TEXT - 1);
  dst[FAKE_MAX_TEXT - 1] = '\0';
}

static struct fake_counter* counter(const char* name) {
  for (int i = 0; i < g_counter_count; ++i)
    if (strcmp(g_counters[i].name, name) == 0) return &g_counters[i];
  if (g_counter_count == (int)(sizeof g_counters / sizeof g_counters[0])) return NULL;
  struct fake_counter* c = &g_counters[g_counter_count++];
  strncpy(c->name, name, FAKE_MAX_ENTRY - 1);
  c->calls = 0;
  c->forced = 0;
  return c;
}

/* Counts the call; returns the forced status (0 when none). */
static cl_int enter(const char* name) {
  struct fake_counter* c = counter(name);
  if (c == NULL) return 0;
  ++c->calls;
  return c->forced;
}

static void* new_object(void) {
  ++g_live;
  g_next_object = (g_next_object + 1) % (int)sizeof g_objects;
  return &g_objects[g_next_object];
}

static cl_int answer(size_t size, const void* value, size_t param_value_size, void* param_value,
                     size_t* param_value_size_ret) {
  if (param_value_size_ret) *param_value_size_ret = size;
  if (param_value) {
    if (param_value_size < size) return CL_INVALID_VALUE;
    memcpy(param_value, value, size);
  }
  return CL_SUCCESS;
}

static cl_int answer_text(const char* text, size_t param_value_size, void* param_value,
                          size_t* param_value_size_ret) {
  return answer(strlen(text) + 1, text, param_value_size, param_value, param_value_size_ret);
}

/* ---- control ------------------------------------------------------------ */

void fake_cl_reset(void) {
  g_platform_count = 0;
  g_device_count = 0;
  g_counter_count = 0;
  g_ids_log_count = 0;
  g_last_context_device = -1;
  g_live = 0;
}

int fake_cl_add_platform(const char* vendor) {
  if (g_platform_count == FAKE_CL_MAX_PLATFORMS) return -1;
  copy_text(g_platforms[g_platform_count].vendor, vendor);
  return g_platform_count++;
}

int fake_cl_add_device(int platform, cl_device_type type, const char* vendor, const char* name,
                       const char* version, const char* extensions) {
  if (platform < 0 || platform >= g_platform_count || g_device_count == FAKE_CL_MAX_DEVICES) return -1;
  struct fake_device* d = &g_devices[g_device_count];
  d->platform = platform;
  d->type = type;
  copy_text(d->vendor, vendor);
  copy_text(d->name, name);
  copy_text(d->version, version);
  copy_text(d->extensions, extensions);
  return g_device_count++;
}

int fake_cl_platform_index(cl_platform_id id) {
  const struct fake_platform* p = (const struct fake_platform*)id;
  if (p < g_platforms || p >= g_platforms + g_platform_count) return -1;
  return (int)(p - g_platforms);
}

int fake_cl_device_index(cl_device_id id) {
  const struct fake_device* d = (const struct fake_device*)id;
  if (d < g_devices || d >= g_devices + g_device_count) return -1;
  return (int)(d - g_devices);
}

void fake_cl_fail(const char* entry_point, cl_int status) {
  struct fake_counter* c = counter(entry_point);
  if (c) c->forced = status;
}

int fake_cl_call_count(const char* entry_point) {
  for (int i = 0; i < g_counter_count; ++i)
    if (strcmp(g_counters[i].name, entry_point) == 0) return g_counters[i].calls;
  return 0;
}

int fake_cl_device_ids_log(int i, int* platform, cl_device_type* type, cl_uint* num_entries) {
  if (i >= 0 && i < g_ids_log_count) {
    if (platform) *platform = g_ids_log[i].platform;
    if (type) *type = g_ids_log[i].type;
    if (num_entries) *num_entries = g_ids_log[i].num_entries;
  }
  return g_ids_log_count;
}

int fake_cl_last_context_device(void) { return g_last_context_device; }

int fake_cl_live_objects(void) { return g_live; }

/* ---- platforms and devices -------------------------------------------- */

#define ENTER_STATUS(name)          \
  do {                              \
    cl_int forced_ = enter(name);   \
    if (forced_ != 0) return forced_; \
  } while (0)

#define ENTER_HANDLE(name)                      \
  do {                                          \
    cl_int forced_ = enter(name);               \
    if (forced_ != 0) {                         \
      if (errcode_ret) *errcode_ret = forced_;  \
      return NULL;                              \
    }                                           \
    if (errcode_ret) *errcode_ret = CL_SUCCESS; \
  } while (0)

cl_int clGetPlatformIDs(cl_uint num_entries, cl_platform_id* platforms, cl_uint* num_platforms) {
  ENTER_STATUS("clGetPlatformIDs");
  if (platforms == NULL && num_platforms == NULL) return CL_INVALID_VALUE;
  if (platforms != NULL && num_entries == 0) return CL_INVALID_VALUE;
  if (g_platform_count == 0) {
    if (num_platforms) *num_platforms = 0;
    return CL_PLATFORM_NOT_FOUND_KHR;
  }
  for (cl_uint i = 0; platforms && i < num_entries && i < (cl_uint)g_platform_count; ++i)
    platforms[i] = (cl_platform_id)&g_platforms[i];
  if (num_platforms) *num_platforms = (cl_uint)g_platform_count;
  return CL_SUCCESS;
}

cl_int clGetPlatformInfo(cl_platform_id platform, cl_platform_info param_name, size_t param_value_size,
                         void* param_value, size_t* param_value_size_ret) {
  ENTER_STATUS("clGetPlatformInfo");
  int p = fake_cl_platform_index(platform);
  if (p < 0) return CL_INVALID_PLATFORM;
  switch (param_name) {
    case CL_PLATFORM_VENDOR:
      return answer_text(g_platforms[p].vendor, param_value_size, param_value, param_value_size_ret);
    case CL_PLATFORM_NAME:
      return answer_text("Fake platform", param_value_size, param_value, param_value_size_ret);
    case CL_PLATFORM_VERSION:
      return answer_text("OpenCL 2.0 fake", param_value_size, param_value, param_value_size_ret);
    case CL_PLATFORM_PROFILE:
      return answer_text("FULL_PROFILE", param_value_size, param_value, param_value_size_ret);
    case CL_PLATFORM_EXTENSIONS:
      return answer_text("", param_value_size, param_value, param_value_size_ret);
    default:
      return CL_INVALID_VALUE;
  }
}

cl_int clGetDeviceIDs(cl_platform_id platform, cl_device_type device_type, cl_uint num_entries,
                      cl_device_id* devices, cl_uint* num_devices) {
  ENTER_STATUS("clGetDeviceIDs");
  int p = fake_cl_platform_index(platform);
  if (g_ids_log_count < FAKE_CL_MAX_LOG) {
    g_ids_log[g_ids_log_count].platform = p;
    g_ids_log[g_ids_log_count].type = device_type;
    g_ids_log[g_ids_log_count].num_entries = num_entries;
    ++g_ids_log_count;
  }
  if (p < 0) return CL_INVALID_PLATFORM;
  if (devices == NULL && num_devices == NULL) return CL_INVALID_VALUE;
  if (devices != NULL && num_entries == 0) return CL_INVALID_VALUE;
  cl_uint found = 0;
  for (int i = 0; i < g_device_count; ++i) {
    const struct fake_device* d = &g_devices[i];
    if (d->platform != p) continue;
    int match = device_type == CL_DEVICE_TYPE_ALL || (d->type & device_type) != 0 ||
                (device_type == CL_DEVICE_TYPE_DEFAULT && found == 0);
    if (!match) continue;
    if (devices && found < num_entries) devices[found] = (cl_device_id)d;
    ++found;
  }
  if (num_devices) *num_devices = found;
  return found ? CL_SUCCESS : CL_DEVICE_NOT_FOUND;
}

cl_int clGetDeviceInfo(cl_device_id device, cl_device_info param_name, size_t param_value_size,
                       void* param_value, size_t* param_value_size_ret) {
  ENTER_STATUS("clGetDeviceInfo");
  int i = fake_cl_device_index(device);
  if (i < 0) return CL_INVALID_DEVICE;
  const struct fake_device* d = &g_devices[i];
  cl_uint u32 = 0;
  cl_ulong u64 = 0;
  size_t sizes[3] = {1024, 1024, 64};
  cl_platform_id pid = (cl_platform_id)&g_platforms[d->platform];
  switch (param_name) {
    case CL_DEVICE_NAME:
      return answer_text(d->name, param_value_size, param_value, param_value_size_ret);
    case CL_DEVICE_VENDOR:
      return answer_text(d->vendor, param_value_size, param_value, param_value_size_ret);
    case CL_DEVICE_VERSION:
      return answer_text(d->version, param_value_size, param_value, param_value_size_ret);
    case CL_DEVICE_EXTENSIONS:
      return answer_text(d->extensions, param_value_size, param_value, param_value_size_ret);
    case CL_DRIVER_VERSION:
      return answer_text("1.0", param_value_size, param_value, param_value_size_ret);
    case CL_DEVICE_PLATFORM:
      return answer(sizeof pid, &pid, param_value_size, param_value, param_value_size_ret);
    case CL_DEVICE_TYPE:
      return answer(sizeof d->type, &d->type, param_value_size, param_value, param_value_size_ret);
    case CL_DEVICE_MAX_WORK_ITEM_SIZES:
      return answer(sizeof sizes, sizes, param_value_size, param_value, param_value_size_ret);
    case CL_DEVICE_GLOBAL_MEM_CACHELINE_SIZE:
      u32 = 64;
      return answer(sizeof u32, &u32, param_value_size, param_value, param_value_size_ret);
    case CL_DEVICE_IMAGE_PITCH_ALIGNMENT:
      u32 = 0;
      return answer(sizeof u32, &u32, param_value_size, param_value, param_value_size_ret);
    case CL_DEVICE_SVM_CAPABILITIES:
      u64 = CL_DEVICE_SVM_COARSE_GRAIN_BUFFER;
      return answer(sizeof u64, &u64, param_value_size, param_value, param_value_size_ret);
    default:
      /* Anything else: zeros of the size asked for. */
      if (param_value) memset(param_value, 0, param_value_size);
      if (param_value_size_ret) *param_value_size_ret = param_value_size;
      return CL_SUCCESS;
  }
}

cl_int clRetainDevice(cl_device_id device) {
  ENTER_STATUS("clRetainDevice");
  return fake_cl_device_index(device) < 0 ? CL_INVALID_DEVICE : CL_SUCCESS;
}
cl_int clReleaseDevice(cl_device_id device) {
  ENTER_STATUS("clReleaseDevice");
  return fake_cl_device_index(device) < 0 ? CL_INVALID_DEVICE : CL_SUCCESS;
}

/* ---- contexts and queues ------------------------------------------------ */

cl_context clCreateContext(const cl_context_properties* properties, cl_uint num_devices,
                           const cl_device_id* devices,
                           void(CL_CALLBACK* pfn_notify)(const char*, const void*, size_t, void*),
                           void* user_data, cl_int* errcode_ret) {
  (void)properties;
  (void)pfn_notify;
  (void)user_data;
  ENTER_HANDLE("clCreateContext");
  if (num_devices == 0 || devices == NULL || fake_cl_device_index(devices[0]) < 0) {
    if (errcode_ret) *errcode_ret = CL_INVALID_DEVICE;
    return NULL;
  }
  g_last_context_device = fake_cl_device_index(devices[0]);
  return (cl_context)new_object();
}

cl_context clCreateContextFromType(const cl_context_properties* properties, cl_device_type device_type,
                                   void(CL_CALLBACK* pfn_notify)(const char*, const void*, size_t, void*),
                                   void* user_data, cl_int* errcode_ret) {
  (void)properties;
  (void)device_type;
  (void)pfn_notify;
  (void)user_data;
  ENTER_HANDLE("clCreateContextFromType");
  return (cl_context)new_object();
}

#define FAKE_RETAIN(name, type)   \
  cl_int name(type object) {      \
    ENTER_STATUS(#name);          \
    (void)object;                 \
    ++g_live;                     \
    return CL_SUCCESS;            \
  }
#define FAKE_RELEASE(name, type)  \
  cl_int name(type object) {      \
    ENTER_STATUS(#name);          \
    (void)object;                 \
    --g_live;                     \
    return CL_SUCCESS;            \
  }

FAKE_RETAIN(clRetainContext, cl_context)
FAKE_RELEASE(clReleaseContext, cl_context)
FAKE_RETAIN(clRetainCommandQueue, cl_command_queue)
FAKE_RELEASE(clReleaseCommandQueue, cl_command_queue)
FAKE_RETAIN(clRetainProgram, cl_program)
FAKE_RELEASE(clReleaseProgram, cl_program)
FAKE_RETAIN(clRetainKernel, cl_kernel)
FAKE_RELEASE(clReleaseKernel, cl_kernel)
FAKE_RETAIN(clRetainMemObject, cl_mem)
FAKE_RELEASE(clReleaseMemObject, cl_mem)
FAKE_RETAIN(clRetainEvent, cl_event)
FAKE_RELEASE(clReleaseEvent, cl_event)

cl_int clGetContextInfo(cl_context context, cl_context_info param_name, size_t param_value_size,
                        void* param_value, size_t* param_value_size_ret) {
  (void)context;
  (void)param_name;
  ENTER_STATUS("clGetContextInfo");
  if (param_value) memset(param_value, 0, param_value_size);
  if (param_value_size_ret) *param_value_size_ret = param_value_size;
  return CL_SUCCESS;
}

cl_command_queue clCreateCommandQueue(cl_context context, cl_device_id device,
                                      cl_command_queue_properties properties, cl_int* errcode_ret) {
  (void)context;
  (void)device;
  (void)properties;
  ENTER_HANDLE("clCreateCommandQueue");
  return (cl_command_queue)new_object();
}

cl_int clGetSupportedImageFormats(cl_context context, cl_mem_flags flags, cl_mem_object_type image_type,
                                  cl_uint num_entries, cl_image_format* image_formats,
                                  cl_uint* num_image_formats) {
  (void)context;
  (void)flags;
  (void)image_type;
  ENTER_STATUS("clGetSupportedImageFormats");
  static const cl_image_format kFormats[] = {{CL_RGBA, CL_UNORM_INT8}, {CL_R, CL_FLOAT}};
  const cl_uint n = (cl_uint)(sizeof kFormats / sizeof kFormats[0]);
  for (cl_uint i = 0; image_formats && i < num_entries && i < n; ++i) image_formats[i] = kFormats[i];
  if (num_image_formats) *num_image_formats = n;
  return CL_SUCCESS;
}

cl_int clFlush(cl_command_queue q) {
  (void)q;
  ENTER_STATUS("clFlush");
  return CL_SUCCESS;
}
cl_int clFinish(cl_command_queue q) {
  (void)q;
  ENTER_STATUS("clFinish");
  return CL_SUCCESS;
}

/* ---- programs and kernels ---------------------------------------------- */

cl_program clCreateProgramWithSource(cl_context context, cl_uint count, const char** strings,
                                     const size_t* lengths, cl_int* errcode_ret) {
  (void)context;
  (void)count;
  (void)strings;
  (void)lengths;
  ENTER_HANDLE("clCreateProgramWithSource");
  return (cl_program)new_object();
}

cl_program clCreateProgramWithBinary(cl_context context, cl_uint num_devices, const cl_device_id* device_list,
                                     const size_t* lengths, const unsigned char** binaries,
                                     cl_int* binary_status, cl_int* errcode_ret) {
  (void)context;
  (void)device_list;
  (void)lengths;
  (void)binaries;
  ENTER_HANDLE("clCreateProgramWithBinary");
  for (cl_uint i = 0; binary_status && i < num_devices; ++i) binary_status[i] = CL_SUCCESS;
  return (cl_program)new_object();
}

cl_int clBuildProgram(cl_program program, cl_uint num_devices, const cl_device_id* device_list,
                      const char* options, void(CL_CALLBACK* pfn_notify)(cl_program, void*), void* user_data) {
  (void)program;
  (void)num_devices;
  (void)device_list;
  (void)options;
  (void)pfn_notify;
  (void)user_data;
  ENTER_STATUS("clBuildProgram");
  return CL_SUCCESS;
}

#define FAKE_INFO(name, handle_type, info_type)                                                  \
  cl_int name(handle_type object, info_type param_name, size_t param_value_size, void* param_value, \
              size_t* param_value_size_ret) {                                                    \
    (void)object;                                                                                \
    (void)param_name;                                                                            \
    ENTER_STATUS(#name);                                                                         \
    if (param_value) memset(param_value, 0, param_value_size);                                   \
    if (param_value_size_ret) *param_value_size_ret = param_value_size;                          \
    return CL_SUCCESS;                                                                           \
  }

FAKE_INFO(clGetProgramInfo, cl_program, cl_program_info)
FAKE_INFO(clGetKernelInfo, cl_kernel, cl_kernel_info)
FAKE_INFO(clGetEventInfo, cl_event, cl_event_info)
FAKE_INFO(clGetEventProfilingInfo, cl_event, cl_profiling_info)
FAKE_INFO(clGetImageInfo, cl_mem, cl_image_info)

cl_int clGetProgramBuildInfo(cl_program program, cl_device_id device, cl_program_build_info param_name,
                             size_t param_value_size, void* param_value, size_t* param_value_size_ret) {
  (void)program;
  (void)device;
  (void)param_name;
  ENTER_STATUS("clGetProgramBuildInfo");
  if (param_value) memset(param_value, 0, param_value_size);
  if (param_value_size_ret) *param_value_size_ret = param_value_size;
  return CL_SUCCESS;
}

cl_kernel clCreateKernel(cl_program program, const char* kernel_name, cl_int* errcode_ret) {
  (void)program;
  (void)kernel_name;
  ENTER_HANDLE("clCreateKernel");
  return (cl_kernel)new_object();
}

cl_int clCreateKernelsInProgram(cl_program program, cl_uint num_kernels, cl_kernel* kernels,
                                cl_uint* num_kernels_ret) {
  (void)program;
  (void)num_kernels;
  (void)kernels;
  ENTER_STATUS("clCreateKernelsInProgram");
  if (num_kernels_ret) *num_kernels_ret = 0;
  return CL_SUCCESS;
}

cl_int clSetKernelArg(cl_kernel kernel, cl_uint arg_index, size_t arg_size, const void* arg_value) {
  (void)kernel;
  (void)arg_index;
  (void)arg_size;
  (void)arg_value;
  ENTER_STATUS("clSetKernelArg");
  return CL_SUCCESS;
}

cl_int clGetKernelWorkGroupInfo(cl_kernel kernel, cl_device_id device, cl_kernel_work_group_info param_name,
                                size_t param_value_size, void* param_value, size_t* param_value_size_ret) {
  (void)kernel;
  (void)device;
  (void)param_name;
  ENTER_STATUS("clGetKernelWorkGroupInfo");
  if (param_value) memset(param_value, 0, param_value_size);
  if (param_value_size_ret) *param_value_size_ret = param_value_size;
  return CL_SUCCESS;
}

#ifndef FAKE_CL_OMIT_SUBGROUPS
cl_int clGetKernelSubGroupInfo(cl_kernel kernel, cl_device_id device, cl_kernel_sub_group_info param_name,
                               size_t input_value_size, const void* input_value, size_t param_value_size,
                               void* param_value, size_t* param_value_size_ret) {
  (void)kernel;
  (void)device;
  (void)param_name;
  (void)input_value_size;
  (void)input_value;
  ENTER_STATUS("clGetKernelSubGroupInfo");
  if (param_value) memset(param_value, 0, param_value_size);
  if (param_value_size_ret) *param_value_size_ret = param_value_size;
  return CL_SUCCESS;
}

cl_int clGetKernelSubGroupInfoKHR(cl_kernel kernel, cl_device_id device, cl_kernel_sub_group_info param_name,
                                  size_t input_value_size, const void* input_value, size_t param_value_size,
                                  void* param_value, size_t* param_value_size_ret) {
  return clGetKernelSubGroupInfo(kernel, device, param_name, input_value_size, input_value, param_value_size,
                                 param_value, param_value_size_ret);
}
#endif

/* ---- memory objects ---------------------------------------------------- */

cl_mem clCreateBuffer(cl_context context, cl_mem_flags flags, size_t size, void* host_ptr, cl_int* errcode_ret) {
  (void)context;
  (void)flags;
  (void)size;
  (void)host_ptr;
  ENTER_HANDLE("clCreateBuffer");
  return (cl_mem)new_object();
}

cl_mem clCreateImage(cl_context context, cl_mem_flags flags, const cl_image_format* image_format,
                     const cl_image_desc* image_desc, void* host_ptr, cl_int* errcode_ret) {
  (void)context;
  (void)flags;
  (void)image_format;
  (void)image_desc;
  (void)host_ptr;
  ENTER_HANDLE("clCreateImage");
  return (cl_mem)new_object();
}

cl_mem clCreateImage2D(cl_context context, cl_mem_flags flags, const cl_image_format* image_format,
                       size_t image_width, size_t image_height, size_t image_row_pitch, void* host_ptr,
                       cl_int* errcode_ret) {
  (void)context;
  (void)flags;
  (void)image_format;
  (void)image_width;
  (void)image_height;
  (void)image_row_pitch;
  (void)host_ptr;
  ENTER_HANDLE("clCreateImage2D");
  return (cl_mem)new_object();
}

/* ---- commands ------------------------------------------------------------ */

static cl_int finish_command(cl_event* event) {
  if (event) *event = (cl_event)new_object();
  return CL_SUCCESS;
}

cl_int clEnqueueNDRangeKernel(cl_command_queue q, cl_kernel kernel, cl_uint work_dim, const size_t* offset,
                              const size_t* global, const size_t* local, cl_uint n, const cl_event* wait,
                              cl_event* event) {
  (void)q, (void)kernel, (void)work_dim, (void)offset, (void)global, (void)local, (void)n, (void)wait;
  ENTER_STATUS("clEnqueueNDRangeKernel");
  return finish_command(event);
}

cl_int clEnqueueReadBuffer(cl_command_queue q, cl_mem buffer, cl_bool blocking, size_t offset, size_t size,
                           void* ptr, cl_uint n, const cl_event* wait, cl_event* event) {
  (void)q, (void)buffer, (void)blocking, (void)offset, (void)n, (void)wait;
  ENTER_STATUS("clEnqueueReadBuffer");
  if (ptr) memset(ptr, 0, size);
  return finish_command(event);
}

cl_int clEnqueueWriteBuffer(cl_command_queue q, cl_mem buffer, cl_bool blocking, size_t offset, size_t size,
                            const void* ptr, cl_uint n, const cl_event* wait, cl_event* event) {
  (void)q, (void)buffer, (void)blocking, (void)offset, (void)size, (void)ptr, (void)n, (void)wait;
  ENTER_STATUS("clEnqueueWriteBuffer");
  return finish_command(event);
}

cl_int clEnqueueReadImage(cl_command_queue q, cl_mem image, cl_bool blocking, const size_t* origin,
                          const size_t* region, size_t row_pitch, size_t slice_pitch, void* ptr, cl_uint n,
                          const cl_event* wait, cl_event* event) {
  (void)q, (void)image, (void)blocking, (void)origin, (void)region, (void)row_pitch, (void)slice_pitch;
  (void)ptr, (void)n, (void)wait;
  ENTER_STATUS("clEnqueueReadImage");
  return finish_command(event);
}

cl_int clEnqueueWriteImage(cl_command_queue q, cl_mem image, cl_bool blocking, const size_t* origin,
                           const size_t* region, size_t row_pitch, size_t slice_pitch, const void* ptr,
                           cl_uint n, const cl_event* wait, cl_event* event) {
  (void)q, (void)image, (void)blocking, (void)origin, (void)region, (void)row_pitch, (void)slice_pitch;
  (void)ptr, (void)n, (void)wait;
  ENTER_STATUS("clEnqueueWriteImage");
  return finish_command(event);
}

cl_int clEnqueueCopyImage(cl_command_queue q, cl_mem src, cl_mem dst, const size_t* src_origin,
                          const size_t* dst_origin, const size_t* region, cl_uint n, const cl_event* wait,
                          cl_event* event) {
  (void)q, (void)src, (void)dst, (void)src_origin, (void)dst_origin, (void)region, (void)n, (void)wait;
  ENTER_STATUS("clEnqueueCopyImage");
  return finish_command(event);
}

cl_int clEnqueueCopyImageToBuffer(cl_command_queue q, cl_mem src, cl_mem dst, const size_t* src_origin,
                                  const size_t* region, size_t dst_offset, cl_uint n, const cl_event* wait,
                                  cl_event* event) {
  (void)q, (void)src, (void)dst, (void)src_origin, (void)region, (void)dst_offset, (void)n, (void)wait;
  ENTER_STATUS("clEnqueueCopyImageToBuffer");
  return finish_command(event);
}

#ifndef FAKE_CL_OMIT_FILL_BUFFER
cl_int clEnqueueFillBuffer(cl_command_queue q, cl_mem buffer, const void* pattern, size_t pattern_size,
                           size_t offset, size_t size, cl_uint n, const cl_event* wait, cl_event* event) {
  (void)q, (void)buffer, (void)pattern, (void)pattern_size, (void)offset, (void)size, (void)n, (void)wait;
  ENTER_STATUS("clEnqueueFillBuffer");
  return finish_command(event);
}
#endif

static char g_mapped[1 << 16];

void* clEnqueueMapBuffer(cl_command_queue q, cl_mem buffer, cl_bool blocking, cl_map_flags flags, size_t offset,
                         size_t size, cl_uint n, const cl_event* wait, cl_event* event, cl_int* errcode_ret) {
  (void)q, (void)buffer, (void)blocking, (void)flags, (void)offset, (void)size, (void)n, (void)wait;
  ENTER_HANDLE("clEnqueueMapBuffer");
  if (size > sizeof g_mapped) {
    if (errcode_ret) *errcode_ret = CL_MAP_FAILURE;
    return NULL;
  }
  finish_command(event);
  return g_mapped;
}

void* clEnqueueMapImage(cl_command_queue q, cl_mem image, cl_bool blocking, cl_map_flags flags,
                        const size_t* origin, const size_t* region, size_t* row_pitch, size_t* slice_pitch,
                        cl_uint n, const cl_event* wait, cl_event* event, cl_int* errcode_ret) {
  (void)q, (void)image, (void)blocking, (void)flags, (void)origin, (void)region, (void)n, (void)wait;
  ENTER_HANDLE("clEnqueueMapImage");
  if (row_pitch) *row_pitch = 0;
  if (slice_pitch) *slice_pitch = 0;
  finish_command(event);
  return g_mapped;
}

cl_int clEnqueueUnmapMemObject(cl_command_queue q, cl_mem memobj, void* mapped_ptr, cl_uint n,
                               const cl_event* wait, cl_event* event) {
  (void)q, (void)memobj, (void)mapped_ptr, (void)n, (void)wait;
  ENTER_STATUS("clEnqueueUnmapMemObject");
  return finish_command(event);
}

cl_int clWaitForEvents(cl_uint num_events, const cl_event* event_list) {
  (void)num_events;
  (void)event_list;
  ENTER_STATUS("clWaitForEvents");
  return CL_SUCCESS;
}
