#include "pvc/pvc_video_filter.h"

#include <rapidjson/document.h>

#include <climits>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <variant>

namespace pvc {

namespace {

constexpr char kProfile[] = "{\"PvcSupport\":true, \"PvcConfig\":33554432}";

// Built-in GPU table: name prefix -> device profile text.
struct DeviceProfileRow {
  const char* namePrefix;
  const char* profile;
};
constexpr DeviceProfileRow kDeviceProfiles[] = {
    {"Intel(R) UHD Graphics 620", kProfile},
    {"Intel(R) UHD Graphics 630", kProfile},
    {"NVIDIA GeForce GTX 1050 Ti", kProfile},
    {"NVIDIA GeForce MX250", kProfile},
    {"NVIDIA Quadro P1000", kProfile},
    {"NVIDIA GeForce RTX 2070", kProfile},
    {"NVIDIA GeForce GTX 1060", kProfile},
    {"NVIDIA GeForce RTX 2060", kProfile},
    {"Radeon RX 560X", kProfile},
    {"AMD Radeon(TM) Vega 10 Graphics", kProfile},
    {"AMD Radeon(TM) Vega 10 Mobile Graphics", kProfile},
    {"Radeon (TM) 520", kProfile},
};
constexpr char kLogProfile[] = "pvc:setDeviceProfileProperty";
constexpr char kLogStart[] = "pvc: PVCVideoFilter start";
constexpr char kLogResolution[] = "pvc:Resolution width %d,height %d";
constexpr char kLogResolutionUnsupported[] = "pvc:Resolution not support";
constexpr char kLogProcessed[] = "pvc:processFrame";
// Logged once when the CPU backend has initialised: path, threads, "s"
// unless one thread.
constexpr char kLogCpuBackend[] = "pvc: JND on the CPU, path %s, %d thread%s";

bool SameKey(const char* key, const char* expected) {
  const size_t n = std::strlen(expected);
  return std::strlen(key) == n && std::memcmp(key, expected, n) == 0;
}

// Length of a property value: up to its terminating NUL, and never past
// the `size` bytes the host handed over, which need not include a NUL.  A
// size of 0 says nothing about the length; the value is then read up to
// its NUL.
size_t ValueLength(const char* value, size_t size) {
  return size > 0 ? strnlen(value, size) : std::strlen(value);
}

// The filter's reference to the host control, shared with the frame calls
// that log through it.
using ControlHolder = std::shared_ptr<const host::ObjectRef<host::FilterControl>>;

void LogTo(const ControlHolder& control, int level, const char* text) {
  if (control && *control) (*control)->log(level, "%s", text);
}

}  // namespace

const char* ProfileForDevice(const std::string& devicesId) {
  if (devicesId.empty()) return "";
  const char* best = "";
  size_t best_len = 0;
  for (const DeviceProfileRow& row : kDeviceProfiles) {
    const size_t n = std::strlen(row.namePrefix);
    if (n <= devicesId.size() && devicesId.compare(0, n, row.namePrefix) == 0 && n > best_len) {
      best = row.profile;
      best_len = n;
    }
  }
  return best;
}

jnd::JndBackend ResolveBackend(BackendChoice choice, bool pvcSupport) {
  switch (choice) {
    case BackendChoice::kCpu:
      return jnd::JndBackend::kCpu;
    case BackendChoice::kAuto:
      return pvcSupport ? jnd::JndBackend::kOpenCL : jnd::JndBackend::kCpu;
    default:
      return jnd::JndBackend::kOpenCL;
  }
}

const char* StatusMessage(int status) {
  switch (status) {
    case kWorkerBadModel:
      return "pvc: PVC input modelId ranges from 0 to 4.";
    case kWorkerLibraryError:
      return "pvc: PVC library error, skip.";
    case kWorkerInitialising:
      return "init PVC with async worker.";
    case kWorkerBusy:
      return "PVC worker busy with warm up.";
    case kWorkerWarmUp:
      return "PVC params changed, do warm up.";
    case kWorkerProcessError:
      return "PVC filter process error.";
    default:
      return "PVC process failed.";
  }
}

// The table of "pvc_parameter".  Each row names the member it lands in;
// the member's type gives the JSON type.
struct ParameterBinding {
  using Target = std::variant<std::string PVCVideoFilter::*, std::atomic<bool> PVCVideoFilter::*,
                              std::atomic<int> PVCVideoFilter::*,
                              std::atomic<BackendChoice> PVCVideoFilter::*>;
  struct Row {
    const char* key;
    Target member;
    int defaultValue;  // bool 0/1, the number, or the index of a choice
    int minValue;      // accepted range: of the number, or of the choice index
    int maxValue;
    bool inDeviceProfile;
    void (PVCVideoFilter::*then)();  // after the member is stored, or null
    const char* help;
  };

  static constexpr Row Text(const char* key, std::string PVCVideoFilter::*m,
                            void (PVCVideoFilter::*then)(), const char* help) {
    return {key, m, 0, 0, 0, false, then, help};
  }
  static constexpr Row Flag(const char* key, std::atomic<bool> PVCVideoFilter::*m, bool initial,
                            bool inDeviceProfile, const char* help) {
    return {key, m, initial ? 1 : 0, 0, 1, inDeviceProfile, nullptr, help};
  }
  static constexpr Row Number(const char* key, std::atomic<int> PVCVideoFilter::*m, int initial,
                              int minValue, int maxValue, bool inDeviceProfile, const char* help) {
    return {key, m, initial, minValue, maxValue, inDeviceProfile, nullptr, help};
  }
  static constexpr Row Choice(const char* key, std::atomic<BackendChoice> PVCVideoFilter::*m,
                              BackendChoice initial, const char* help) {
    return {key, m, static_cast<int>(initial), 0, static_cast<int>(std::size(kBackendChoices)) - 1,
            false, nullptr, help};
  }

  static const Row kRows[];

  static ParameterType TypeOf(const Row& row) {
    switch (row.member.index()) {
      case 0: return ParameterType::kString;
      case 1: return ParameterType::kBool;
      case 2: return ParameterType::kInt32;
      default: return ParameterType::kChoice;
    }
  }

  static void SetDefault(PVCVideoFilter& f, const Row& row) {
    if (auto m = std::get_if<0>(&row.member)) (f.**m).clear();
    if (auto m = std::get_if<1>(&row.member)) (f.**m).store(row.defaultValue != 0);
    if (auto m = std::get_if<2>(&row.member)) (f.**m).store(row.defaultValue);
    if (auto m = std::get_if<3>(&row.member))
      (f.**m).store(static_cast<BackendChoice>(row.defaultValue));
  }

  // Stores a present member; false when its type or value is not accepted.
  static bool Apply(PVCVideoFilter& f, const Row& row, const rapidjson::Value& v) {
    if (auto m = std::get_if<0>(&row.member)) {
      if (!v.IsString()) return false;
      (f.**m).assign(v.GetString(), v.GetStringLength());
    } else if (auto m = std::get_if<1>(&row.member)) {
      if (!v.IsBool()) return false;
      (f.**m).store(v.GetBool());
    } else if (auto m = std::get_if<2>(&row.member)) {
      if (!v.IsInt() || v.GetInt() < row.minValue || v.GetInt() > row.maxValue) return false;
      (f.**m).store(v.GetInt());
    } else if (auto m = std::get_if<3>(&row.member)) {
      if (!v.IsString()) return false;
      const std::string text(v.GetString(), v.GetStringLength());
      int index = row.minValue;
      while (index <= row.maxValue && text != kBackendChoices[index]) ++index;
      if (index > row.maxValue) return false;
      (f.**m).store(static_cast<BackendChoice>(index));
    }
    if (row.then != nullptr) (f.*row.then)();
    return true;
  }

  // Applies the members of a JSON object in table order: 0, or -1 at the
  // first one not accepted.  profileOnly: the device-profile rows only.
  static int ApplyMembers(PVCVideoFilter& f, const rapidjson::Value& object, bool profileOnly);
};

const ParameterBinding::Row ParameterBinding::kRows[] = {
    Text("DevicesId", &PVCVideoFilter::devices_id_, &PVCVideoFilter::applyDeviceProfile,
         "the GPU's name; the built-in table sets `PvcSupport` and `PvcConfig` from it."),
    Flag("enable_pvc", &PVCVideoFilter::enabled_, true, false,
         "false passes every frame through unfiltered."),
    Flag("PvcSupport", &PVCVideoFilter::pvc_support_, false, true,
         "the GPU may run the filter (also set by a device profile)."),
    Number("PvcConfig", &PVCVideoFilter::pvc_config_, 0, INT_MIN, INT_MAX, true,
           "the device profile's configuration word, handed to the frame-size rule, which does "
           "not read it."),
    Number("pvc_one_model", &PVCVideoFilter::one_model_, 0, INT_MIN, INT_MAX, false,
           "weight set 1..4 (0 or below: the default set 3)."),
    Choice("Backend", &PVCVideoFilter::backend_, BackendChoice::kOpenCL,
           "`\"opencl\"` filters frames on the OpenCL GPU, and only when `PvcSupport` allows "
           "it; `\"cpu\"` on the CPU backend, whatever `PvcSupport` says; `\"auto\"` on OpenCL "
           "when `PvcSupport` is true, else on the CPU."),
    Number("CpuThreads", &PVCVideoFilter::cpu_threads_, kDefaultCpuThreads, 1,
           jnd::kJndCpuMaxThreads, false,
           "threads the CPU backend splits each frame over, the calling thread included; with 1 "
           "the library starts no thread."),
};

int ParameterBinding::ApplyMembers(PVCVideoFilter& f, const rapidjson::Value& object,
                                   bool profileOnly) {
  for (const Row& row : kRows) {
    if (profileOnly && !row.inDeviceProfile) continue;
    const auto it = object.FindMember(row.key);
    if (it != object.MemberEnd() && !Apply(f, row, it->value)) return -1;
  }
  return 0;
}

std::vector<ParameterInfo> ParameterTable() {
  std::vector<ParameterInfo> table;
  for (const ParameterBinding::Row& row : ParameterBinding::kRows) {
    const ParameterType type = ParameterBinding::TypeOf(row);
    const bool choice = type == ParameterType::kChoice;
    table.push_back({row.key, type, row.minValue, row.maxValue,
                     choice ? kBackendChoices : nullptr,
                     choice ? static_cast<int>(std::size(kBackendChoices)) : 0, row.defaultValue,
                     row.inDeviceProfile, row.help});
  }
  return table;
}

PVCVideoFilter::PVCVideoFilter() {
  for (const ParameterBinding::Row& row : ParameterBinding::kRows)
    ParameterBinding::SetDefault(*this, row);
}

PVCVideoFilter::~PVCVideoFilter() {
  control_.reset();
  std::atomic_store(&worker_, std::shared_ptr<PvcWorker>());
}

void PVCVideoFilter::log(int level, const char* text) {
  LogTo(std::atomic_load(&control_), level, text);
}

// Host entry points are function-try-blocks: no exception reaches the host.
int PVCVideoFilter::setProperty(const char* key, const char* value, size_t size) try {
  if (value == nullptr || key == nullptr || key[0] == '\0') return -1;
  if (!SameKey(key, kPropertyKey)) return 0;
  rapidjson::Document doc;
  doc.Parse(value, ValueLength(value, size));
  if (doc.HasParseError() || !doc.IsObject()) return -1;

  return ParameterBinding::ApplyMembers(*this, doc, /*profileOnly=*/false);
} catch (...) {
  return -1;
}

void PVCVideoFilter::applyDeviceProfile() {
  const char* profile = ProfileForDevice(devices_id_);
  setDeviceProfileProperty(kDeviceProfileKey, profile, std::strlen(profile) + 1);
}

int PVCVideoFilter::setDeviceProfileProperty(const char* key, const char* value, size_t size) {
  // Fed by setProperty with the built-in profile texts, which end in a NUL.
  (void)size;
  if (key == nullptr || value == nullptr || !SameKey(key, kDeviceProfileKey)) return 0;
  rapidjson::Document doc;
  doc.Parse(value);
  if (doc.HasParseError() || !doc.IsObject()) return -1;
  if (ParameterBinding::ApplyMembers(*this, doc, /*profileOnly=*/true) != 0) return -1;
  log(1, kLogProfile);
  return 0;
}

int PVCVideoFilter::start(host::ObjectRef<host::FilterControl> control) try {
  // Both are made before either is published, so a failure publishes none.
  const ControlHolder holder =
      std::make_shared<host::ObjectRef<host::FilterControl>>(std::move(control));
  const std::shared_ptr<PvcWorker> worker = std::make_shared<PvcWorker>(
      ResolveBackend(backend_.load(), pvc_support_.load()), cpu_threads_.load());
  std::atomic_store(&control_, holder);
  log(4, kLogStart);
  std::atomic_store(&worker_, worker);
  return 0;
} catch (...) {
  std::atomic_store(&worker_, std::shared_ptr<PvcWorker>());
  std::atomic_store(&control_, ControlHolder());
  return kStartFailed;
}

int PVCVideoFilter::stop() try {
  if (std::shared_ptr<PvcWorker> w = std::atomic_load(&worker_)) w->dropJndContext();
  return 0;
} catch (...) {
  return kStopFailed;
}

int PVCVideoFilter::processFrame(host::ObjectRef<host::HostVideoFrame> input,
                                 host::ObjectRef<host::HostVideoFrame>& output) try {
  if (!input) return host::kFrameNotProcessed;
  const std::shared_ptr<PvcWorker> worker = std::atomic_load(&worker_);
  // Every line of this frame goes to this control, referenced until the
  // call returns.
  const ControlHolder control = std::atomic_load(&control_);
  // The GPU support gate does not apply to the CPU backend.
  if (!enabled_.load() || !worker || !control || !*control ||
      !(pvc_support_.load() || worker->backend() == jnd::JndBackend::kCpu)) {
    input.reset();
    return host::kFrameNotProcessed;
  }
  host::FrameDataRecord record;
  host::PrepareFrameDataRecord(&record);
  input->getFrameData(&record);
  const bool supported = worker->isResolutionSupported(record.width, record.height, pvc_config_);
  (*control)->log(1, kLogResolution, record.width, record.height);
  // Frames without a pixel (a zero or negative extent, or no plane) are
  // refused like unsupported sizes, before the worker.
  if (!supported || record.width <= 0 || record.height <= 0 || record.luma == nullptr) {
    LogTo(control, 1, kLogResolutionUnsupported);
    input.reset();
    return host::kFrameNotProcessed;
  }
  const int model = one_model_ > 0 ? one_model_.load() : default_model_;
  const int status = worker->process(&record, model);
  if (status == kWorkerFiltered) {
    LogTo(control, 1, kLogProcessed);
    output.assign(input.get());
    input.reset();
    return host::kFrameProcessed;
  }
  LogTo(control, 4, StatusMessage(status));
  CpuSetup setup;
  if (status == kWorkerInitialising && worker->takeCpuSetup(&setup))
    (*control)->log(4, kLogCpuBackend, setup.path, setup.threads, setup.threads == 1 ? "" : "s");
  input.reset();
  return host::kFrameNotProcessed;
} catch (...) {
  // The worker could not set up or run (out of memory): not processed.
  // The frame reference is released with the parameter.
  return host::kFrameNotProcessed;
}

}  // namespace pvc
