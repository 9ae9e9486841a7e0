#include "pvc/pvc_video_filter.h"

#include <rapidjson/document.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace pvc {

namespace {

constexpr char kProfile[] = "{\"PvcSupport\":true, \"PvcConfig\":33554432}";
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

bool IsInt32(const rapidjson::Value& v) { return v.IsInt(); }

// A "Backend" value; false for any other text.
bool ParseBackend(const rapidjson::Value& v, BackendChoice* choice) {
  const std::string text(v.GetString(), v.GetStringLength());
  if (text == kBackendOpenCL) *choice = BackendChoice::kOpenCL;
  else if (text == kBackendCpu) *choice = BackendChoice::kCpu;
  else if (text == kBackendAuto) *choice = BackendChoice::kAuto;
  else return false;
  return true;
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

const DeviceProfileRow kDeviceProfileTable[kDeviceProfileSlots] = {
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
    {nullptr, nullptr},
};

const char* ProfileForDevice(const std::string& devicesId) {
  if (devicesId.empty()) return "";
  const char* best = "";
  size_t best_len = 0;
  for (const DeviceProfileRow& row : kDeviceProfileTable) {
    if (row.namePrefix == nullptr) continue;
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

  const auto end = doc.MemberEnd();
  auto it = doc.FindMember("DevicesId");
  if (it != end) {
    if (!it->value.IsString()) return -1;
    devices_id_.assign(it->value.GetString(), it->value.GetStringLength());
    const char* profile = ProfileForDevice(devices_id_);
    setDeviceProfileProperty(kDeviceProfileKey, profile, std::strlen(profile) + 1);
  }
  if ((it = doc.FindMember("enable_pvc")) != end) {
    if (!it->value.IsBool()) return -1;
    enabled_ = it->value.GetBool();
  }
  if ((it = doc.FindMember("PvcSupport")) != end) {
    if (!it->value.IsBool()) return -1;
    pvc_support_ = it->value.GetBool();
  }
  if ((it = doc.FindMember("PvcConfig")) != end) {
    if (!IsInt32(it->value)) return -1;
    pvc_config_ = it->value.GetInt();
  }
  if ((it = doc.FindMember("pvc_one_model")) != end) {
    if (!IsInt32(it->value)) return -1;
    one_model_ = it->value.GetInt();
  }
  if ((it = doc.FindMember("Backend")) != end) {
    BackendChoice choice;
    if (!it->value.IsString() || !ParseBackend(it->value, &choice)) return -1;
    backend_ = choice;
  }
  if ((it = doc.FindMember("CpuThreads")) != end) {
    if (!IsInt32(it->value)) return -1;
    const int threads = it->value.GetInt();
    if (threads < 1 || threads > jnd::kJndCpuMaxThreads) return -1;
    cpu_threads_ = threads;
  }
  return 0;
} catch (...) {
  return -1;
}

int PVCVideoFilter::setDeviceProfileProperty(const char* key, const char* value, size_t size) {
  // Fed by setProperty with the built-in profile texts, which end in a NUL.
  (void)size;
  if (key == nullptr || value == nullptr || !SameKey(key, kDeviceProfileKey)) return 0;
  rapidjson::Document doc;
  doc.Parse(value);
  if (doc.HasParseError() || !doc.IsObject()) return -1;
  auto it = doc.FindMember("PvcSupport");
  if (it != doc.MemberEnd()) {
    if (!it->value.IsBool()) return -1;
    pvc_support_ = it->value.GetBool();
  }
  it = doc.FindMember("PvcConfig");
  if (it != doc.MemberEnd()) {
    if (!IsInt32(it->value)) return -1;
    pvc_config_ = it->value.GetInt();
  }
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
