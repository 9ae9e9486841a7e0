// PVCVideoFilter: the "pvc" filter.  Decides per frame whether it may be
// filtered and has its worker run the JND pre-filter over the luma plane.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "host/extension_interface.h"
#include "pvc/pvc_worker.h"

namespace pvc {

// "pvc_parameter" is a JSON object.  Its members are the rows of one table
// (ParameterTable below, defined in pvc_video_filter.cpp): key, type,
// accepted values, default and meaning.  The table drives the parsing, the
// state a new filter starts from, the device profile and the member list
// of README.md (tests/pvc checks that the README shows every row, in
// order).  The members are applied in the table's order, and a present
// member of the wrong type or value answers -1 at once (members before it
// stay applied); members the table does not know are ignored.  Backend and
// CpuThreads are resolved when start creates the worker; a change takes
// effect at the next start.
constexpr const char kPropertyKey[] = "pvc_parameter";
// The device profile: a JSON object of the rows marked inDeviceProfile,
// read with the same rules.  setProperty applies the built-in profile of
// the GPU named by "DevicesId" through it.
constexpr const char kDeviceProfileKey[] = "pvc_device_profile";
constexpr int kDefaultModel = 3;

// The "Backend" member's values, indexed by BackendChoice.
enum class BackendChoice { kOpenCL, kCpu, kAuto };
constexpr const char kBackendOpenCL[] = "opencl";
constexpr const char kBackendCpu[] = "cpu";
constexpr const char kBackendAuto[] = "auto";
constexpr const char* const kBackendChoices[] = {kBackendOpenCL, kBackendCpu, kBackendAuto};
constexpr int kDefaultCpuThreads = 1;

// The backend a worker started now runs on.
jnd::JndBackend ResolveBackend(BackendChoice choice, bool pvcSupport);

// JSON types of the members.
enum class ParameterType {
  kString,
  kBool,
  kInt32,   // a JSON integer within [minValue, maxValue]
  kChoice,  // a JSON string, one of choices (exact case)
};

// One member of "pvc_parameter".
struct ParameterInfo {
  const char* key;
  ParameterType type;
  int minValue;                // kInt32: accepted range (kChoice: of the index)
  int maxValue;
  const char* const* choices;  // kChoice: accepted texts, index = stored value
  int choiceCount;
  // A new filter's value: kBool 0 or 1, kInt32 the number, kChoice the
  // index into choices; kString always "".
  int defaultValue;
  bool inDeviceProfile;        // also read from a device profile
  const char* help;            // meaning, as README.md shows it
};

// The members in the order setProperty applies them.
std::vector<ParameterInfo> ParameterTable();

// Profile text of the longest built-in GPU name prefix of devicesId; ""
// when none matches.
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

// Binds the rows of ParameterTable to the filter's members (defined in
// pvc_video_filter.cpp).
struct ParameterBinding;

class PVCVideoFilter final
    : public host::RefCounted<host::ExtensionVideoFilter, PVCVideoFilter> {
 public:
  // Every member of "pvc_parameter" at its default.
  PVCVideoFilter();
  ~PVCVideoFilter();

  void setEnabled(bool) override {}
  bool isEnabled() override { return true; }
  int setProperty(const char* key, const char* value, size_t size) override;
  // Applies a device profile given under kDeviceProfileKey (other keys
  // answer 0 and change nothing); the value is read up to its NUL.
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
  friend struct ParameterBinding;
  void log(int level, const char* text);
  // Applies the built-in profile of devices_id_ ("DevicesId").
  void applyDeviceProfile();

  // The members of "pvc_parameter"; their defaults come from the table.
  std::atomic<bool> enabled_;
  std::atomic<int> pvc_config_;
  std::atomic<bool> pvc_support_;
  std::atomic<int> one_model_;
  std::atomic<BackendChoice> backend_;
  std::atomic<int> cpu_threads_;
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
