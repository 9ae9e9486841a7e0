// Device persona library; see persona_api.h for what it does and how a
// persona is chosen.
#include <CL/cl.h>
#include <CL/cl_egl.h>
#include <CL/cl_ext.h>
#include <CL/cl_gl.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/platform.h"
#include "tools/persona/persona_api.h"

#ifndef OXRIN_REAL_OPENCL_PATH
#define OXRIN_REAL_OPENCL_PATH "/usr/lib/x86_64-linux-gnu/libOpenCL.so.1"
#endif

namespace {

// ---------------------------------------------------------------------------
// Persona description

struct Persona {
  bool active = false;
  std::string name, vendor, platformVendor, version;
  std::vector<std::string> add, remove;
};

struct ReadyPersona {
  const char* key;
  const char* name;
  const char* vendor;
  const char* version;
};

const ReadyPersona kReadyPersonas[] = {
    {"nvidia", "NVIDIA GeForce RTX 2070", "NVIDIA Corporation", "OpenCL 3.0 CUDA"},
    {"intel", "Intel(R) UHD Graphics 630", "Intel(R) Corporation", "OpenCL 3.0 NEO"},
    {"amd", "gfx1030", "Advanced Micro Devices, Inc.", "OpenCL 2.0 AMD-APP (3513.0)"},
    {"arm", "Mali-G76", "ARM", "OpenCL 2.1 v1.r26p0-01rel0"},
    {"qualcomm", "QUALCOMM Adreno(TM) 640", "QUALCOMM", "OpenCL 2.0 Adreno(TM) 640"},
    {"imagination", "PowerVR Rogue GE8320", "Imagination Technologies", "OpenCL 1.2"},
    {"apple", "Apple M1", "Apple", "OpenCL 1.2 (Nov 13 2021 00:45:09)"},
};

// Extensions a persona never claims unless asked to.
const char* const kNeverClaimed[] = {"cl_khr_fp16", "cl_khr_image2d_from_buffer"};

const char* const kPersonaVariable = "OXRIN_CL_PERSONA";

bool ApplyReady(Persona& p, const std::string& key) {
  for (const ReadyPersona& r : kReadyPersonas) {
    if (key == r.key) {
      p.active = true;
      p.name = r.name;
      p.vendor = r.vendor;
      p.platformVendor = r.vendor;
      p.version = r.version;
      return true;
    }
  }
  std::fprintf(stderr, "persona: unknown persona \"%s\"\n", key.c_str());
  return false;
}

std::vector<std::string> Words(const std::string& s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && s[i] == ' ') ++i;
    size_t j = i;
    while (j < s.size() && s[j] != ' ') ++j;
    if (j > i) out.push_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

// Splits "k=v;k=v" with backslash escapes into pairs.
std::vector<std::pair<std::string, std::string>> Fields(const char* text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::string field;
  std::vector<std::string> raw;
  size_t eq = std::string::npos;
  std::vector<size_t> eqs;
  for (const char* c = text;; ++c) {
    if (*c == '\\' && c[1] != '\0') {
      field += *++c;
      continue;
    }
    if (*c == ';' || *c == '\0') {
      if (!field.empty()) {
        raw.push_back(field);
        eqs.push_back(eq);
      }
      field.clear();
      eq = std::string::npos;
      if (*c == '\0') break;
      continue;
    }
    if (*c == '=' && eq == std::string::npos) eq = field.size();
    field += *c;
  }
  for (size_t i = 0; i < raw.size(); ++i) {
    if (eqs[i] == std::string::npos) {
      std::fprintf(stderr, "persona: field \"%s\" has no '='\n", raw[i].c_str());
      continue;
    }
    out.emplace_back(raw[i].substr(0, eqs[i]), raw[i].substr(eqs[i] + 1));
  }
  return out;
}

Persona ParsePersona(const char* text) {
  Persona p;
  if (text == nullptr || *text == '\0') return p;
  if (std::strchr(text, '=') == nullptr) {
    ApplyReady(p, text);
    return p;
  }
  const auto fields = Fields(text);
  for (const auto& f : fields)
    if (f.first == "base") ApplyReady(p, f.second);
  bool platformGiven = false;
  for (const auto& f : fields) {
    p.active = true;
    if (f.first == "base") continue;
    if (f.first == "name") p.name = f.second;
    else if (f.first == "vendor") p.vendor = f.second;
    else if (f.first == "platform") p.platformVendor = f.second, platformGiven = true;
    else if (f.first == "version") p.version = f.second;
    else if (f.first == "add") for (auto& w : Words(f.second)) p.add.push_back(w);
    else if (f.first == "remove") for (auto& w : Words(f.second)) p.remove.push_back(w);
    else std::fprintf(stderr, "persona: unknown field \"%s\"\n", f.first.c_str());
  }
  if (!platformGiven && !p.vendor.empty()) p.platformVendor = p.vendor;
  return p;
}

bool Contains(const std::vector<std::string>& v, const std::string& s) {
  for (const auto& x : v)
    if (x == s) return true;
  return false;
}

// The extension text the persona reports for a device whose real text is
// `real`.
std::string PersonaExtensions(const Persona& p, const std::string& real) {
  std::vector<std::string> words = Words(real);
  std::vector<std::string> out;
  for (const auto& w : words) {
    bool never = false;
    for (const char* n : kNeverClaimed) never |= (w == n);
    if (Contains(p.remove, w) || (never && !Contains(p.add, w))) continue;
    out.push_back(w);
  }
  for (const auto& w : p.add)
    if (!Contains(out, w) && !Contains(p.remove, w)) out.push_back(w);
  std::string text;
  for (const auto& w : out) text += w + " ";
  return text;
}

// ---------------------------------------------------------------------------
// Counters and the fault switch

std::atomic<long> g_live{0};
std::atomic<long> g_enqueues{0};
// Successful NDRange enqueues by kernel function name, in a fixed table:
// counting must not allocate, since tests count the allocations of the
// code that enqueues.
struct NamedCount {
  char name[128];
  long count;
};
constexpr int kNamedCounts = 512;
std::mutex g_namedMutex;
NamedCount g_namedEnqueues[kNamedCounts];
int g_namedUsed = 0;

// The entry of a name, created when missing; null when the table is full.
NamedCount* FindNamed(const char* name, bool create) {
  for (int i = 0; i < g_namedUsed; ++i)
    if (std::strcmp(g_namedEnqueues[i].name, name) == 0) return &g_namedEnqueues[i];
  if (!create || g_namedUsed == kNamedCounts) return nullptr;
  NamedCount* e = &g_namedEnqueues[g_namedUsed++];
  std::snprintf(e->name, sizeof e->name, "%s", name);
  e->count = 0;
  return e;
}


std::atomic<bool> g_faultArmed{false};
std::mutex g_faultMutex;
std::string g_faultEntry;
long g_faultNth = 0;
long g_faultCalls = 0;
cl_int g_faultStatus = 0;

// True when this call of `entry` is the one to fail; *status gets the code.
bool Faulted(const char* entry, cl_int* status) {
  if (!g_faultArmed.load(std::memory_order_acquire)) return false;
  std::lock_guard<std::mutex> lock(g_faultMutex);
  if (!g_faultArmed.load(std::memory_order_relaxed) || g_faultEntry != entry) return false;
  if (++g_faultCalls != g_faultNth) return false;
  *status = g_faultStatus;
  g_faultArmed.store(false, std::memory_order_release);
  return true;
}

// ---------------------------------------------------------------------------
// Generic forwarding

enum class Kind { CALL, CREATE, RETAIN, RELEASE };

template <typename R>
R Fail(cl_int status, cl_int* errcode) {
  if constexpr (std::is_void_v<R>) {
    (void)status;
    (void)errcode;
  } else if constexpr (std::is_pointer_v<R>) {
    if (errcode != nullptr) *errcode = status;
    return nullptr;
  } else {
    (void)errcode;
    return static_cast<R>(status);
  }
}

template <typename R>
bool Succeeded(R r) {
  if constexpr (std::is_pointer_v<R>) return r != nullptr;
  else return r == CL_SUCCESS;
}

template <Kind K, typename R, typename... P>
struct Forwarder {
  const char* name;
  R(CL_API_CALL* fn)(P...);
  cl_event* event;
  cl_int* errcode;

  template <typename... A>
  R operator()(A... args) const {
    cl_int forced = 0;
    if (Faulted(name, &forced)) return Fail<R>(forced, errcode);
    // Without the real loader nothing is bound: answer as an empty ICD would.
    if (fn == nullptr) return Fail<R>(CL_INVALID_PLATFORM, nullptr);
    if constexpr (std::is_void_v<R>) {
      fn(args...);
    } else {
      R r = fn(args...);
      if (Succeeded(r)) {
        if (K == Kind::CREATE || K == Kind::RETAIN) ++g_live;
        if (K == Kind::RELEASE) --g_live;
        if (event != nullptr && *event != nullptr) ++g_live;
      }
      return r;
    }
  }
};

template <Kind K, typename R, typename... P>
Forwarder<K, R, P...> MakeForwarder(const char* name, R(CL_API_CALL* fn)(P...), cl_event* event,
                                    cl_int* errcode) {
  return Forwarder<K, R, P...>{name, fn, event, errcode};
}

#define NO_EVENT static_cast<cl_event*>(nullptr)
#define NO_ERRCODE static_cast<cl_int*>(nullptr)

// Pointers into the real loader, and forward_<name>: the call with fault
// check and counting, used by the exported functions.
#define OX_CL_API(kind, ret, name, params, args, event, errcode)                          \
  ret(CL_API_CALL* real_##name) params = nullptr;                                         \
  [[maybe_unused]] ret forward_##name params {                                            \
    return MakeForwarder<Kind::kind>(#name, real_##name, event, errcode) args;            \
  }
#define OX_CL_API_OWN OX_CL_API
#include "tools/persona/cl_api.inc"
#undef OX_CL_API
#undef OX_CL_API_OWN

// ---------------------------------------------------------------------------
// Loading

Persona g_persona;
void* g_real = nullptr;

struct Loader {
  Loader() {
    g_persona = ParsePersona(std::getenv(kPersonaVariable));
    // By absolute path: a plain "libOpenCL.so.1" would find this library
    // again by its SONAME.
    g_real = dlopen(OXRIN_REAL_OPENCL_PATH, RTLD_NOW | RTLD_LOCAL);
    if (g_real == nullptr) {
      std::fprintf(stderr, "persona: cannot load %s: %s\n", OXRIN_REAL_OPENCL_PATH, dlerror());
      return;
    }
#define OX_CL_API(kind, ret, name, params, args, event, errcode) \
  real_##name = reinterpret_cast<decltype(real_##name)>(dlsym(g_real, #name));
#define OX_CL_API_OWN OX_CL_API
#include "tools/persona/cl_api.inc"
#undef OX_CL_API
#undef OX_CL_API_OWN
  }
};
const Loader g_loader;

// Answers an info query with a text.
cl_int AnswerText(const std::string& text, size_t size, void* value, size_t* sizeRet) {
  if (sizeRet != nullptr) *sizeRet = text.size() + 1;
  if (value != nullptr) {
    if (size < text.size() + 1) return CL_INVALID_VALUE;
    std::memcpy(value, text.c_str(), text.size() + 1);
  }
  return CL_SUCCESS;
}

// Reads a whole text-valued device query from the real device.
cl_int RealDeviceText(cl_device_id device, cl_device_info param, std::string& out) {
  size_t n = 0;
  cl_int s = forward_clGetDeviceInfo(device, param, 0, nullptr, &n);
  if (s != CL_SUCCESS) return s;
  std::vector<char> buf(n + 1, '\0');
  s = forward_clGetDeviceInfo(device, param, n, buf.data(), nullptr);
  if (s == CL_SUCCESS) out = buf.data();
  return s;
}

// Vendor printf properties (CL_PRINTF_CALLBACK_ARM, CL_PRINTF_BUFFERSIZE_ARM)
// are dropped from context property lists under a persona: the device
// behind it rejects them with CL_INVALID_PROPERTY, while the device the
// persona imitates accepts them.
std::vector<cl_context_properties> FilterContextProperties(const cl_context_properties* props) {
  std::vector<cl_context_properties> out;
  if (props == nullptr) return out;
  for (size_t i = 0; props[i] != 0; i += 2) {
    if (props[i] == 0x40B0 || props[i] == 0x40B1) continue;
    out.push_back(props[i]);
    out.push_back(props[i + 1]);
  }
  out.push_back(0);
  return out;
}

// Device types that a GPU persona answers with the real devices.
bool AsksForGpu(cl_device_type type) {
  return type == CL_DEVICE_TYPE_ALL || (type & (CL_DEVICE_TYPE_GPU | CL_DEVICE_TYPE_DEFAULT)) != 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Exported entry points

#define OX_CL_API(kind, ret, name, params, args, event, errcode) \
  extern "C" OX_EXPORT ret CL_API_CALL name params { return forward_##name args; }
#define OX_CL_API_OWN(...)
#include "tools/persona/cl_api.inc"
#undef OX_CL_API
#undef OX_CL_API_OWN

extern "C" OX_EXPORT cl_int CL_API_CALL clGetPlatformInfo(cl_platform_id platform, cl_platform_info param_name,
                                                           size_t param_value_size, void* param_value,
                                                           size_t* param_value_size_ret) {
  if (g_persona.active && param_name == CL_PLATFORM_VENDOR) {
    size_t n = 0;
    cl_int s = forward_clGetPlatformInfo(platform, param_name, 0, nullptr, &n);
    if (s != CL_SUCCESS) return s;
    return AnswerText(g_persona.platformVendor, param_value_size, param_value, param_value_size_ret);
  }
  return forward_clGetPlatformInfo(platform, param_name, param_value_size, param_value, param_value_size_ret);
}

extern "C" OX_EXPORT cl_int CL_API_CALL clGetDeviceIDs(cl_platform_id platform, cl_device_type device_type,
                                                        cl_uint num_entries, cl_device_id* devices,
                                                        cl_uint* num_devices) {
  if (g_persona.active) {
    if (!AsksForGpu(device_type)) {
      if (num_devices != nullptr) *num_devices = 0;
      return CL_DEVICE_NOT_FOUND;
    }
    device_type = CL_DEVICE_TYPE_ALL;
  }
  return forward_clGetDeviceIDs(platform, device_type, num_entries, devices, num_devices);
}

extern "C" OX_EXPORT cl_int CL_API_CALL clGetDeviceInfo(cl_device_id device, cl_device_info param_name,
                                                         size_t param_value_size, void* param_value,
                                                         size_t* param_value_size_ret) {
  if (!g_persona.active)
    return forward_clGetDeviceInfo(device, param_name, param_value_size, param_value, param_value_size_ret);
  std::string real;
  switch (param_name) {
    case CL_DEVICE_TYPE: {
      cl_device_type type = 0;
      cl_int s = forward_clGetDeviceInfo(device, param_name, sizeof type, &type, nullptr);
      if (s != CL_SUCCESS) return s;
      type = CL_DEVICE_TYPE_GPU;
      if (param_value_size_ret != nullptr) *param_value_size_ret = sizeof type;
      if (param_value != nullptr) {
        if (param_value_size < sizeof type) return CL_INVALID_VALUE;
        std::memcpy(param_value, &type, sizeof type);
      }
      return CL_SUCCESS;
    }
    case CL_DEVICE_NAME:
    case CL_DEVICE_VENDOR:
    case CL_DEVICE_VERSION:
    case CL_DEVICE_EXTENSIONS: {
      cl_int s = RealDeviceText(device, param_name, real);
      if (s != CL_SUCCESS) return s;
      const std::string* text = nullptr;
      if (param_name == CL_DEVICE_NAME) text = &g_persona.name;
      if (param_name == CL_DEVICE_VENDOR) text = &g_persona.vendor;
      if (param_name == CL_DEVICE_VERSION) text = &g_persona.version;
      if (text != nullptr && text->empty()) text = &real;  // field not set: keep the real text
      if (param_name == CL_DEVICE_EXTENSIONS) {
        const std::string ext = PersonaExtensions(g_persona, real);
        return AnswerText(ext, param_value_size, param_value, param_value_size_ret);
      }
      return AnswerText(*text, param_value_size, param_value, param_value_size_ret);
    }
    default:
      return forward_clGetDeviceInfo(device, param_name, param_value_size, param_value, param_value_size_ret);
  }
}

extern "C" OX_EXPORT cl_context CL_API_CALL clCreateContext(
    const cl_context_properties* properties, cl_uint num_devices, const cl_device_id* devices,
    void(CL_CALLBACK* pfn_notify)(const char*, const void*, size_t, void*), void* user_data, cl_int* errcode_ret) {
  if (g_persona.active && properties != nullptr) {
    const auto props = FilterContextProperties(properties);
    return forward_clCreateContext(props.data(), num_devices, devices, pfn_notify, user_data, errcode_ret);
  }
  return forward_clCreateContext(properties, num_devices, devices, pfn_notify, user_data, errcode_ret);
}

extern "C" OX_EXPORT cl_context CL_API_CALL clCreateContextFromType(
    const cl_context_properties* properties, cl_device_type device_type,
    void(CL_CALLBACK* pfn_notify)(const char*, const void*, size_t, void*), void* user_data, cl_int* errcode_ret) {
  if (g_persona.active) {
    if (!AsksForGpu(device_type)) {
      if (errcode_ret != nullptr) *errcode_ret = CL_DEVICE_NOT_FOUND;
      return nullptr;
    }
    const auto props = FilterContextProperties(properties);
    return forward_clCreateContextFromType(properties != nullptr ? props.data() : nullptr, CL_DEVICE_TYPE_ALL,
                                           pfn_notify, user_data, errcode_ret);
  }
  return forward_clCreateContextFromType(properties, device_type, pfn_notify, user_data, errcode_ret);
}

// Counts an enqueue under its kernel's function name (asked of the real
// loader directly, so that the fault switch never sees the question).
void CountNamedEnqueue(cl_kernel kernel) {
  char name[256] = {0};
  if (real_clGetKernelInfo == nullptr ||
      real_clGetKernelInfo(kernel, CL_KERNEL_FUNCTION_NAME, sizeof name - 1, name, nullptr) !=
          CL_SUCCESS)
    return;
  std::lock_guard<std::mutex> lock(g_namedMutex);
  if (NamedCount* e = FindNamed(name, true)) ++e->count;
}

extern "C" OX_EXPORT cl_int CL_API_CALL clEnqueueNDRangeKernel(
    cl_command_queue command_queue, cl_kernel kernel, cl_uint work_dim, const size_t* global_work_offset,
    const size_t* global_work_size, const size_t* local_work_size, cl_uint num_events_in_wait_list,
    const cl_event* event_wait_list, cl_event* event) {
  cl_int s = forward_clEnqueueNDRangeKernel(command_queue, kernel, work_dim, global_work_offset, global_work_size,
                                            local_work_size, num_events_in_wait_list, event_wait_list, event);
  if (s == CL_SUCCESS) {
    ++g_enqueues;
    CountNamedEnqueue(kernel);
  }
  return s;
}

extern "C" OX_EXPORT cl_int CL_API_CALL clEnqueueTask(cl_command_queue command_queue, cl_kernel kernel,
                                                       cl_uint num_events_in_wait_list,
                                                       const cl_event* event_wait_list, cl_event* event) {
  cl_int s = forward_clEnqueueTask(command_queue, kernel, num_events_in_wait_list, event_wait_list, event);
  if (s == CL_SUCCESS) ++g_enqueues;
  return s;
}

extern "C" OX_EXPORT cl_int CL_API_CALL clEnqueueNativeKernel(
    cl_command_queue command_queue, void(CL_CALLBACK* user_func)(void*), void* args, size_t cb_args,
    cl_uint num_mem_objects, const cl_mem* mem_list, const void** args_mem_loc, cl_uint num_events_in_wait_list,
    const cl_event* event_wait_list, cl_event* event) {
  cl_int s = forward_clEnqueueNativeKernel(command_queue, user_func, args, cb_args, num_mem_objects, mem_list,
                                           args_mem_loc, num_events_in_wait_list, event_wait_list, event);
  if (s == CL_SUCCESS) ++g_enqueues;
  return s;
}

extern "C" OX_EXPORT cl_int CL_API_CALL clCreateKernelsInProgram(cl_program program, cl_uint num_kernels,
                                                                  cl_kernel* kernels, cl_uint* num_kernels_ret) {
  if (kernels != nullptr)
    for (cl_uint i = 0; i < num_kernels; ++i) kernels[i] = nullptr;
  cl_int s = forward_clCreateKernelsInProgram(program, num_kernels, kernels, num_kernels_ret);
  if (s == CL_SUCCESS && kernels != nullptr)
    for (cl_uint i = 0; i < num_kernels; ++i) g_live += kernels[i] != nullptr ? 1 : 0;
  return s;
}

extern "C" OX_EXPORT void CL_API_CALL clSVMFree(cl_context context, void* svm_pointer) {
  forward_clSVMFree(context, svm_pointer);
}

// ---------------------------------------------------------------------------
// Test interface

extern "C" OX_EXPORT long persona_live_objects(void) { return g_live.load(); }
extern "C" OX_EXPORT long persona_enqueue_count(void) { return g_enqueues.load(); }
extern "C" OX_EXPORT long persona_enqueue_count_named(const char* kernel_name) {
  if (kernel_name == nullptr) return 0;
  std::lock_guard<std::mutex> lock(g_namedMutex);
  const NamedCount* e = FindNamed(kernel_name, false);
  return e == nullptr ? 0 : e->count;
}
extern "C" OX_EXPORT const char* persona_device_name(void) {
  return g_persona.active ? g_persona.name.c_str() : "";
}
extern "C" OX_EXPORT int persona_real_loaded(void) { return g_real != nullptr ? 1 : 0; }
extern "C" OX_EXPORT void persona_fail_call(const char* entry_point, long nth, int status) {
  std::lock_guard<std::mutex> lock(g_faultMutex);
  g_faultEntry = entry_point != nullptr ? entry_point : "";
  g_faultNth = nth;
  g_faultCalls = 0;
  g_faultStatus = status;
  g_faultArmed.store(entry_point != nullptr && nth > 0, std::memory_order_release);
}
