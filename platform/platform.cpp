#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <time.h>
#endif

namespace platform {

#if defined(_WIN32)

namespace {
thread_local std::string g_last_error;
}

LibHandle OpenLibrary(const char* path) {
  if (path == nullptr) return nullptr;
  HMODULE h = LoadLibraryA(path);
  if (h == nullptr) g_last_error = "LoadLibraryA failed, error " + std::to_string(GetLastError());
  return reinterpret_cast<LibHandle>(h);
}

void* FindSymbol(LibHandle lib, const char* name) {
  if (lib == nullptr || name == nullptr) return nullptr;
  FARPROC p = GetProcAddress(reinterpret_cast<HMODULE>(lib), name);
  if (p == nullptr) g_last_error = std::string("symbol not found: ") + name;
  return reinterpret_cast<void*>(p);
}

void CloseLibrary(LibHandle lib) {
  if (lib != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(lib));
}

std::string LastLoadError() { return g_last_error; }

int64_t ClockTicks() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

int64_t ClockTicksPerSecond() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return f.QuadPart;
}

std::vector<std::string> OpenClLibraryNames() {
  return {"OpenCL.dll", "C:/Windows/System32/OpenCL.dll"};
}

#else  // POSIX

namespace {
thread_local std::string g_last_error;
}

LibHandle OpenLibrary(const char* path) {
  if (path == nullptr) return nullptr;
  void* h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (h == nullptr) {
    const char* e = dlerror();
    g_last_error = e ? e : "dlopen failed";
  }
  return h;
}

void* FindSymbol(LibHandle lib, const char* name) {
  if (lib == nullptr || name == nullptr) return nullptr;
  dlerror();
  void* p = dlsym(lib, name);
  if (p == nullptr) {
    const char* e = dlerror();
    g_last_error = e ? e : std::string("symbol not found: ") + name;
  }
  return p;
}

void CloseLibrary(LibHandle lib) {
  if (lib != nullptr) dlclose(lib);
}

std::string LastLoadError() { return g_last_error; }

int64_t ClockTicks() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

int64_t ClockTicksPerSecond() { return 1000000000LL; }

#ifndef OXRIN_SYSTEM_OPENCL_PATH
#define OXRIN_SYSTEM_OPENCL_PATH "/usr/lib/x86_64-linux-gnu/libOpenCL.so.1"
#endif

std::vector<std::string> OpenClLibraryNames() {
  return {"libOpenCL.so.1", OXRIN_SYSTEM_OPENCL_PATH};
}

#endif

bool KeepLibrariesAtExit() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

double TicksToMs(int64_t begin, int64_t end) {
  return static_cast<double>(end - begin) * 1000.0 / static_cast<double>(ClockTicksPerSecond());
}

}  // namespace platform
