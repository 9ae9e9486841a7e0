#include "tools/exthost/gpu_probe.h"

#include <cstdlib>
#include <vector>

#define CL_TARGET_OPENCL_VERSION 120
#include <CL/cl.h>

#include "platform/platform.h"

namespace exthost {

std::string FirstOpenClGpuName(std::string* why) {
  // The names the extension tries, in its order.
  platform::LibHandle lib = nullptr;
  for (const std::string& path : platform::OpenClLibraryNames()) {
    lib = platform::OpenLibrary(path.c_str());
    if (lib != nullptr) break;
  }
  if (lib == nullptr) {
    *why = "no OpenCL library on this machine";
    return "";
  }
  using GetPlatforms = cl_int (*)(cl_uint, cl_platform_id*, cl_uint*);
  using GetDevices = cl_int (*)(cl_platform_id, cl_device_type, cl_uint, cl_device_id*, cl_uint*);
  using GetInfo = cl_int (*)(cl_device_id, cl_device_info, size_t, void*, size_t*);
  auto get_platforms = reinterpret_cast<GetPlatforms>(platform::FindSymbol(lib, "clGetPlatformIDs"));
  auto get_devices = reinterpret_cast<GetDevices>(platform::FindSymbol(lib, "clGetDeviceIDs"));
  auto get_info = reinterpret_cast<GetInfo>(platform::FindSymbol(lib, "clGetDeviceInfo"));
  std::string name;
  *why = "no OpenCL GPU device found";
  cl_uint n = 0;
  if (get_platforms && get_devices && get_info && get_platforms(0, nullptr, &n) == CL_SUCCESS && n > 0) {
    std::vector<cl_platform_id> platforms(n);
    if (get_platforms(n, platforms.data(), nullptr) == CL_SUCCESS) {
      for (cl_platform_id p : platforms) {
        cl_device_id device = nullptr;
        cl_uint count = 0;
        if (get_devices(p, CL_DEVICE_TYPE_GPU, 1, &device, &count) != CL_SUCCESS || count == 0)
          continue;
        char text[512] = {0};
        if (get_info(device, CL_DEVICE_NAME, sizeof(text) - 1, text, nullptr) == CL_SUCCESS) {
          name = text;
          break;
        }
      }
    }
  }
  // The library stays loaded: the extension binds the same one later.
  return name;
}

bool LoadPersona(const std::string& persona, const std::string& library, std::string* error) {
  platform::SetEnv("OXRIN_CL_PERSONA", persona.c_str());
  if (platform::OpenLibrary(library.c_str(), platform::kLoadGlobal) == nullptr) {
    *error = "cannot load the device persona " + library + ": " + platform::LastLoadError();
    return false;
  }
  return true;
}

}  // namespace exthost
