// The program-binary cache loader: a cache file and its sidecar record,
// both from the input, handed to clEngine::LoadBinary.  The engine runs on
// the configurable fake OpenCL library, so a binary that gets past the
// record checks reaches a driver that cannot crash on it; what is checked
// is that only a binary matching a well-formed record for this device and
// driver ever gets that far.
//
// Input: one flag byte, a 16-bit binary length, the binary, then the record
// text.  Flag bit 0 writes the record the engine itself would write for the
// binary, followed by the record text from the input (extra or repeated
// lines); bit 1 leaves the record file out; bit 2 leaves the binary out.
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "fake_cl_control.h"
#include "fuzz/fuzz_input.h"
#include "opencl/cl_dispatch.h"
#include "opencl/cl_engine.h"

namespace {

struct Fixture {
  opencl::clEngine engine;
  std::string dir;
  decltype(&fake_cl_call_count) calls = nullptr;

  Fixture() {
    void* lib = dlopen(FAKE_CL_MULTI_PATH, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) std::abort();
    auto reset = reinterpret_cast<decltype(&fake_cl_reset)>(dlsym(lib, "fake_cl_reset"));
    auto addPlatform = reinterpret_cast<decltype(&fake_cl_add_platform)>(dlsym(lib, "fake_cl_add_platform"));
    auto addDevice = reinterpret_cast<decltype(&fake_cl_add_device)>(dlsym(lib, "fake_cl_add_device"));
    calls = reinterpret_cast<decltype(&fake_cl_call_count)>(dlsym(lib, "fake_cl_call_count"));
    if (!reset || !addPlatform || !addDevice || !calls) std::abort();
    reset();
    const int platform = addPlatform("NVIDIA Corporation");
    addDevice(platform, CL_DEVICE_TYPE_GPU, "NVIDIA Corporation", "NVIDIA GeForce RTX 2070",
              "OpenCL 1.2 fake", "");
    if (!opencl::SetProcessClLibraryPaths({FAKE_CL_MULTI_PATH})) std::abort();
    if (!engine.Init(0, false, false)) std::abort();
    char tmpl[] = "/tmp/oxrin_fuzz_cache_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) std::abort();
    dir = tmpl;
  }
  ~Fixture() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& fx = Shared();
  fuzzin::Input in(data, size);
  const uint8_t flags = in.byte();
  const std::vector<uint8_t> binaryBytes = in.bytes(in.u16());
  const std::vector<uint8_t> recordBytes = in.rest();
  const std::string binary(binaryBytes.begin(), binaryBytes.end());
  std::string recordText(recordBytes.begin(), recordBytes.end());

  const std::string path = fx.dir + "/program.bin";
  const std::string recordPath = opencl::BinaryCacheRecordPath(path);
  std::remove(path.c_str());
  std::remove(recordPath.c_str());
  if (!(flags & 4)) WriteFile(path, binary);
  if (flags & 1) {
    opencl::BinaryCacheRecord honest;
    honest.length = binary.size();
    honest.hash = opencl::BinaryHash(binary.data(), binary.size());
    honest.deviceName = fx.engine.deviceName;
    honest.driverVersion = "1.0";  // what the fake driver reports
    recordText = opencl::FormatCacheRecord(honest) + recordText;
  }
  if (!(flags & 2)) WriteFile(recordPath, recordText);

  const int before = fx.calls("clCreateProgramWithBinary");
  const bool loaded = fx.engine.LoadBinary(path);
  const bool reachedDriver = fx.calls("clCreateProgramWithBinary") != before;

  // The driver sees a binary only when the files agree with each other.
  if (reachedDriver) {
    opencl::BinaryCacheRecord r;
    if (flags & 6) __builtin_trap();
    if (recordText.size() > 4096 || !opencl::ParseCacheRecord(recordText, &r)) __builtin_trap();
    if (binary.empty() || r.length != binary.size() ||
        r.hash != opencl::BinaryHash(binary.data(), binary.size()) ||
        r.deviceName != fx.engine.deviceName || r.driverVersion != "1.0") {
      __builtin_trap();
    }
  } else if (loaded) {
    __builtin_trap();
  }
  if (!loaded && fx.engine.lastError.empty()) __builtin_trap();
  return 0;
}
