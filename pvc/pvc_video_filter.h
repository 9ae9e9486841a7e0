// PVCVideoFilter: the "pvc" filter.  Decides per frame whether it may be
// filtered and has its worker run the JND pre-filter over the luma plane.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "host/extension_interface.h"
#include "pvc/pvc_worker.h"

namespace pvc {

// "pvc_parameter" is a JSON object; its members are applied in this order,
// and a present member of the wrong type or value answers -1 at once
// (members before it stay applied):
//   DevicesId      string: the GPU's name; the built-in table below sets
//                  PvcSupport and PvcConfig from it
//   enable_pvc     bool
//   PvcSupport     bool: the GPU may run the filter
//   PvcConfig      int32
//   pvc_one_model  int32: weight set 1..4 (0: the default set)
//   Backend        "opencl" (default; frames are filtered only when
//                  PvcSupport allows the GPU), "cpu" (the CPU backend, with
//                  or without PvcSupport) or "auto" (OpenCL when PvcSupport
//                  is true, else the CPU)
//   CpuThreads     int32 1..jnd::kJndCpuMaxThreads (default 1): threads the
//                  CPU backend splits each frame over, the calling thread
//                  included (1: no thread is started)
// Backend and CpuThreads are resolved when start creates the worker; a
// change takes effect at the next start.
constexpr const char kPropertyKey[] = "pvc_parameter";
constexpr const char kDeviceProfileKey[] = "pvc_device_profile";
constexpr int kDefaultModel = 3;

// The "Backend" member's values.
enum class BackendChoice { kOpenCL, kCpu, kAuto };
constexpr const char kBackendOpenCL[] = "opencl";
constexpr const char kBackendCpu[] = "cpu";
constexpr const char kBackendAuto[] = "auto";
constexpr int kDefaultCpuThreads = 1;

// The backend a worker started now runs on.
jnd::JndBackend ResolveBackend(BackendChoice choice, bool pvcSupport);

// Built-in GPU table: name prefix -> profile text.  13 slots, the last
// one empty.
struct DeviceProfileRow {
  const char* namePrefix;
  const char* profile;
};
constexpr int kDeviceProfileSlots = 13;
extern const DeviceProfileRow kDeviceProfileTable[kDeviceProfileSlots];

// Profile text of the longest table prefix of devicesId; "" when none.
const char* ProfileForDevice(const std::string& devicesId);

// Message logged for a worker status other than 0.
const char* StatusMessage(int status);

// No exception (an allocation failure, say) leaves a host entry point.
// Instead setProperty answers -1 (members before the failure stay
// applied), processFrame 1 (the frame is not processed), and start
// kStartFailed with the filter left stopped: no worker and no control, so
// frames pass unprocessed until a start succeeds.  stop only releases and
// answers 0; kStopFailed stands for an exception it would meet all the same.
constexpr int kStartFailed = -1;
constexpr int kStopFailed = -1;

class PVCVideoFilter final
    : public host::RefCounted<host::ExtensionVideoFilter, PVCVideoFilter> {
 public:
  PVCVideoFilter() = default;
  ~PVCVideoFilter();

  void setEnabled(bool) override {}
  bool isEnabled() override { return true; }
  int setProperty(const char* key, const char* value, size_t size) override;
  int setDeviceProfileProperty(const char* key, const char* value, size_t size);
  int start(host::ObjectRef<host::FilterControl> control) override;
  int stop() override;
  int processFrame(host::ObjectRef<host::HostVideoFrame> input,
                   host::ObjectRef<host::HostVideoFrame>& output) override;

  // Read-only views.
  bool enabled() const { return enabled_.load(); }
  bool pvcSupport() const { return pvc_support_.load(); }
  int pvcConfig() const { return pvc_config_.load(); }
  int oneModel() const { return one_model_.load(); }
  BackendChoice backendChoice() const { return backend_.load(); }
  int cpuThreads() const { return cpu_threads_.load(); }
  const std::string& devicesId() const { return devices_id_; }
  std::shared_ptr<PvcWorker> worker() const { return std::atomic_load(&worker_); }

 private:
  void log(int level, const char* text);

  std::atomic<bool> enabled_{true};
  std::atomic<int> pvc_config_{0};
  std::atomic<bool> pvc_support_{false};
  std::atomic<int> one_model_{0};
  std::atomic<BackendChoice> backend_{BackendChoice::kOpenCL};
  std::atomic<int> cpu_threads_{kDefaultCpuThreads};
  const int default_model_ = kDefaultModel;
  std::string devices_id_;
  // Shared so a frame call in flight keeps the worker it started with when
  // a concurrent start replaces it.
  std::shared_ptr<PvcWorker> worker_;
  // Held the same way, for the same overlap: a frame call logs through the
  // control it started with, still referenced, while a concurrent start
  // replaces it (std::atomic_load / std::atomic_store only).
  std::shared_ptr<const host::ObjectRef<host::FilterControl>> control_;
};

}  // namespace pvc
