// Device persona: a stand-in for the system's OpenCL library (SONAME
// libOpenCL.so.1) that forwards every entry point to the real ICD loader,
// loaded by its absolute path, and changes only what a persona states about
// the devices.  Test-only; never linked into a deliverable.
//
// Choosing a persona: the environment variable OXRIN_CL_PERSONA, read once
// when the library is loaded.
//   unset or empty      no persona: every call is passed through unchanged
//                       (objects and enqueues are still counted)
//   a ready name        nvidia, intel, amd, arm, qualcomm, imagination, apple
//   fields              key=value pairs separated by ';'.  A backslash takes
//                       the next character literally, so values may hold
//                       ';' as "\;" and '\' as "\\"; commas need no escape.
//     base=NAME         start from a ready persona (applied first)
//     name=TEXT         CL_DEVICE_NAME
//     vendor=TEXT       CL_DEVICE_VENDOR
//     platform=TEXT     CL_PLATFORM_VENDOR (defaults to the device vendor)
//     version=TEXT      CL_DEVICE_VERSION
//     add=EXT EXT...    extensions added to CL_DEVICE_EXTENSIONS
//     remove=EXT...     extensions removed from it
//   e.g. OXRIN_CL_PERSONA='name=gfx902;vendor=Advanced Micro Devices, Inc.;add=cl_khr_fp16'
//
// Under any persona every device reports CL_DEVICE_TYPE_GPU, clGetDeviceIDs
// answers the real devices for GPU, DEFAULT and ALL and none for other
// types, and the texts above replace the real ones.  cl_khr_fp16 and
// cl_khr_image2d_from_buffer are never claimed unless named by add=: the
// device behind the persona does not gain them, so a program that relies on
// them then fails in the real call, as it would on a device that lies.
//
// The functions below are exported for tests, which find them with dlsym.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// OpenCL objects alive through this library: contexts, command queues,
// programs, kernels, memory objects and events created or retained, minus
// those released.
long persona_live_objects(void);
// Kernels enqueued successfully (NDRange, task and native kernels).
long persona_enqueue_count(void);
// NDRange enqueues of kernels whose function name is kernel_name.
long persona_enqueue_count_named(const char* kernel_name);
// Device name of the persona in force; "" when none.
const char* persona_device_name(void);
// 1 when the real ICD loader was loaded, else 0.
int persona_real_loaded(void);
// Makes the nth call (1 = the next one) of the named entry point fail with
// `status` (handle-returning calls give null and store status in their error
// output).  A null name disarms.  One fault at a time.
void persona_fail_call(const char* entry_point, long nth, int status);

typedef long (*persona_counter_fn)(void);
typedef const char* (*persona_text_fn)(void);
typedef void (*persona_fail_fn)(const char*, long, int);

#ifdef __cplusplus
}
#endif
