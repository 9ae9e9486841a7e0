#include "platform/platform.h"

#include <cstdlib>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif

namespace platform {

#if defined(_WIN32)

namespace {
thread_local std::string g_last_error;
}

// Module lookups compare names in the loader's own form: backslashes.
static std::string ModuleName(const char* path) {
  std::string name(path);
  for (char& c : name)
    if (c == '/') c = '\\';
  return name;
}

static std::string ErrorText(const char* what, const char* path) {
  return std::string(what) + " " + (path ? path : "") + " failed, error " +
         std::to_string(GetLastError());
}

LibHandle OpenLibrary(const char* path, unsigned flags) {
  if (path == nullptr) return nullptr;
  HMODULE h = LoadLibraryA(path);
  if (h == nullptr) {
    g_last_error = ErrorText("LoadLibraryA", path);
    return nullptr;
  }
  if ((flags & kLoadPinned) != 0) {
    HMODULE pinned = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, ModuleName(path).c_str(), &pinned);
  }
  return reinterpret_cast<LibHandle>(h);
}

LibHandle LoadedLibrary(const char* path) {
  if (path == nullptr) return nullptr;
  HMODULE h = nullptr;
  if (!GetModuleHandleExA(0, ModuleName(path).c_str(), &h)) return nullptr;
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

std::string SharedLibraryFileName(const std::string& name) { return name + ".dll"; }

std::string ExecutablePath() {
  char buf[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof(buf));
  if (n == 0 || n >= sizeof(buf)) return std::string();
  std::string path(buf, n);
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

const char* NullDevicePath() { return "NUL"; }

void SetBinaryMode(FILE* stream) {
  if (stream != nullptr) _setmode(_fileno(stream), _O_BINARY);
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

bool SetEnv(const char* name, const char* value) {
  // The C runtime keeps its own copy of the environment; getenv reads it.
  return _putenv_s(name, value) == 0;
}

bool RenameReplacing(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

int RunInChildProcess(const std::function<int()>&) { return -1; }

bool OpenCapturePipe(int fds[2]) { return _pipe(fds, 1 << 20, _O_BINARY) == 0; }

#else  // POSIX

namespace {
thread_local std::string g_last_error;
}

LibHandle OpenLibrary(const char* path, unsigned flags) {
  if (path == nullptr) return nullptr;
  int mode = RTLD_NOW | ((flags & kLoadGlobal) != 0 ? RTLD_GLOBAL : RTLD_LOCAL);
  if ((flags & kLoadPinned) != 0) mode |= RTLD_NODELETE;
  void* h = dlopen(path, mode);
  if (h == nullptr) {
    const char* e = dlerror();
    g_last_error = e ? e : "dlopen failed";
  }
  return h;
}

LibHandle LoadedLibrary(const char* path) {
  if (path == nullptr) return nullptr;
  return dlopen(path, RTLD_NOW | RTLD_NOLOAD);
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

std::string SharedLibraryFileName(const std::string& name) { return "lib" + name + ".so"; }

std::string ExecutablePath() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

const char* NullDevicePath() { return "/dev/null"; }

void SetBinaryMode(FILE*) {}

long ProcessId() { return static_cast<long>(getpid()); }

bool SetEnv(const char* name, const char* value) { return setenv(name, value, 1) == 0; }

bool RenameReplacing(const char* from, const char* to) { return std::rename(from, to) == 0; }

int RunInChildProcess(const std::function<int()>& fn) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int rc = fn();
    std::fflush(nullptr);
    _exit(rc);
  }
  if (pid < 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool OpenCapturePipe(int fds[2]) {
  if (pipe(fds) != 0) return false;
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  return true;
}

#endif

bool KeepLibrariesAtExit() {
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
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
