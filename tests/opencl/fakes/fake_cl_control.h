/* Control interface of the configurable fake OpenCL library
 * (libfake_cl_multi.so, built by tests/opencl/CMakeLists.txt; its path is
 * given to tests as FAKE_CL_MULTI_PATH).
 *
 * The fake exports all 55 entry points of the dispatch table.  Platforms and
 * devices are described through the setters below; everything else answers
 * with plausible dummy handles so that a caller can get as far as creating a
 * context and a command queue.  Tests look these functions up with dlsym on
 * the handle they loaded (the fake is loaded with RTLD_LOCAL).
 *
 * Handles: platform i is the address of an internal record; tests compare
 * handles by asking fake_cl_platform_index / fake_cl_device_index.
 */
#ifndef FAKE_CL_CONTROL_H
#define FAKE_CL_CONTROL_H

#include <CL/cl.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FAKE_CL_MAX_PLATFORMS 16
#define FAKE_CL_MAX_DEVICES 64 /* in all, over every platform */
#define FAKE_CL_MAX_LOG 256

/* Forgets all platforms, devices, forced failures and the call log. */
void fake_cl_reset(void);

/* Adds a platform with the given CL_PLATFORM_VENDOR text; returns its
 * index, or -1 when full. */
int fake_cl_add_platform(const char* vendor);

/* Adds a device to platform `platform`.  `version` is CL_DEVICE_VERSION
 * (e.g. "OpenCL 1.2 fake"), `extensions` the space-separated extension text.
 * Returns the device's global index (in order of addition), or -1. */
int fake_cl_add_device(int platform, cl_device_type type, const char* vendor, const char* name,
                       const char* version, const char* extensions);

/* Index of a handle returned by the fake, or -1 when it is not one. */
int fake_cl_platform_index(cl_platform_id id);
int fake_cl_device_index(cl_device_id id);

/* Makes every later call of the named entry point return `status` (handle
 * returning functions then return null and store `status` in errcode_ret).
 * status 0 removes the forced failure. */
void fake_cl_fail(const char* entry_point, cl_int status);

/* Number of calls of the named entry point since the last reset. */
int fake_cl_call_count(const char* entry_point);

/* Log of clGetDeviceIDs calls since the last reset: returns the number of
 * calls recorded; when i is below it, fills the platform index, the device
 * type asked for and num_entries of call i. */
int fake_cl_device_ids_log(int i, int* platform, cl_device_type* type, cl_uint* num_entries);

/* Global index of the device the last context was created for; -1 if none. */
int fake_cl_last_context_device(void);

/* Live objects created by the fake (contexts, queues, programs, kernels, mem
 * objects, events) minus those released. */
int fake_cl_live_objects(void);

#ifdef __cplusplus
}
#endif

#endif /* FAKE_CL_CONTROL_H */
