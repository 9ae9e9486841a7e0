// setProperty of the perceptual filter: key, value and size from the input
// (and through it the device-profile step for any "DevicesId"), then the
// backend a start would resolve from what was applied ("Backend",
// "CpuThreads" and the GPU support).
// The value lies in a buffer of exactly `size` bytes with no terminator
// after it, so any read past what the host handed over is caught.  A zero
// size tells the filter nothing about the length: the host then promises a
// terminated value, and the buffer gets one.
#include <cstring>
#include <memory>

#include "fuzz/fuzz_input.h"
#include "pvc/pvc_video_filter.h"

namespace {
const char* const kKeys[] = {"pvc_parameter", "pvc_device_profile", ""};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzin::Input in(data, size);
  const uint8_t keyChoice = in.byte();
  std::string key;
  if (keyChoice < 3 * 64) key = kKeys[keyChoice % 3];
  else key = in.text(in.byte() % 24);
  const size_t valueSize = in.u16() % 4096;
  std::vector<uint8_t> rest = in.rest();

  std::unique_ptr<char[]> value;
  size_t passedSize = 0;
  if (valueSize == 0) {
    value.reset(new char[rest.size() + 1]);
    if (!rest.empty()) std::memcpy(value.get(), rest.data(), rest.size());
    value[rest.size()] = '\0';
  } else {
    passedSize = rest.size() < valueSize ? rest.size() : valueSize;
    if (passedSize == 0) return 0;
    value.reset(new char[passedSize]);
    std::memcpy(value.get(), rest.data(), passedSize);
  }

  pvc::PVCVideoFilter filter;
  filter.addRef();
  const int r = filter.setProperty(key.c_str(), value.get(), passedSize);
  if (r != 0 && r != -1) __builtin_trap();
  // The device profile follows the stored name.
  (void)pvc::ProfileForDevice(filter.devicesId());
  // Whatever was applied stays within what a start accepts.
  const int threads = filter.cpuThreads();
  if (threads < 1 || threads > jnd::kJndCpuMaxThreads) __builtin_trap();
  const pvc::BackendChoice choice = filter.backendChoice();
  const jnd::JndBackend backend = pvc::ResolveBackend(choice, filter.pvcSupport());
  if (choice == pvc::BackendChoice::kCpu && backend != jnd::JndBackend::kCpu) __builtin_trap();
  if (choice == pvc::BackendChoice::kOpenCL && backend != jnd::JndBackend::kOpenCL) __builtin_trap();
  return 0;
}
