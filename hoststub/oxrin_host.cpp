#include "hoststub/oxrin_host.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace oxhost {

namespace {

std::string FormatV(const char* format, va_list args) {
  if (format == nullptr) return std::string();
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof(small), format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof(small)) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(&out[0], out.size(), format, args);
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace

// VideoFrame ------------------------------------------------------------

VideoFrame::VideoFrame(int width, int height) : width_(width), height_(height) {
  if (width > 0 && height > 0) {
    const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    const size_t chroma = static_cast<size_t>(chromaWidth()) * static_cast<size_t>(chromaHeight());
    planes_.assign(luma + 2 * chroma, 0);
    luma_ = planes_.data();
    cb_ = luma_ + luma;
    cr_ = cb_ + chroma;
  }
}

VideoFrame::~VideoFrame() = default;

Ref<VideoFrame> VideoFrame::Create(int width, int height) {
  return Ref<VideoFrame>(new VideoFrame(width, height));
}

Ref<VideoFrame> VideoFrame::CreateWithRecord(int width, int height, uint8_t* luma) {
  VideoFrame* f = new VideoFrame(0, 0);
  f->width_ = width;
  f->height_ = height;
  f->luma_ = luma;
  return Ref<VideoFrame>(f);
}

Ref<VideoFrame> VideoFrame::CreateDescribed() {
  VideoFrame* f = new VideoFrame(0, 0);
  f->described_ = true;
  return Ref<VideoFrame>(f);
}

void VideoFrame::describe(const FrameRecord& record) {
  description_ = record;
  width_ = record.width;
  height_ = record.height;
  luma_ = record.luma;
  cb_ = record.cb;
  cr_ = record.cr;
}

void VideoFrame::addRef() { refs_.fetch_add(1, std::memory_order_relaxed); }

int VideoFrame::release() {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete this;
    return 0;
  }
  return 1;
}

void VideoFrame::slot2() {}
void VideoFrame::slot3() {}

int VideoFrame::getFrameData(FrameRecord* record) {
  if (record == nullptr) return -1;
  data_calls_.fetch_add(1, std::memory_order_relaxed);
  if (described_) {
    *record = description_;
    return 0;
  }
  std::memset(record, 0, sizeof(*record));
  record->format = 1;
  record->luma = luma_;
  record->cb = cb_;
  record->cr = cr_;
  record->lumaPitch = width_;
  record->chromaPitch = chromaWidth();
  record->chromaWidth = chromaWidth();
  record->chromaHeight = chromaHeight();
  record->width = width_;
  record->height = height_;
  return 0;
}

// FilterControl ---------------------------------------------------------

Ref<FilterControl> FilterControl::Create() { return Ref<FilterControl>(new FilterControl()); }

void FilterControl::addRef() { refs_.fetch_add(1, std::memory_order_relaxed); }

int FilterControl::release() {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete this;
    return 0;
  }
  return 1;
}

void FilterControl::slot2() {}
void FilterControl::slot3() {}
void FilterControl::slot4() {}
void FilterControl::slot5() {}

int FilterControl::postEvent(const char* key, const char* value) {
  std::lock_guard<std::mutex> lock(mu_);
  events_.push_back({key ? key : "", value ? value : ""});
  return 0;
}

int FilterControl::log(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  std::lock_guard<std::mutex> lock(mu_);
  if (sink_) sink_(sink_ctx_, level, text.c_str());
  logs_.push_back({level, std::move(text)});
  return 0;
}

std::vector<LogEntry> FilterControl::logs() const {
  std::lock_guard<std::mutex> lock(mu_);
  return logs_;
}

std::vector<EventEntry> FilterControl::events() const {
  std::lock_guard<std::mutex> lock(mu_);
  return events_;
}

void FilterControl::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  logs_.clear();
  events_.clear();
}

void FilterControl::setLogSink(void (*sink)(void*, int, const char*), void* ctx) {
  std::lock_guard<std::mutex> lock(mu_);
  sink_ = sink;
  sink_ctx_ = ctx;
}

// ExtensionControl ------------------------------------------------------

void ExtensionControl::slot0() {}
void ExtensionControl::slot1() {}
void ExtensionControl::slot2() {}
void ExtensionControl::slot4() {}

int ExtensionControl::log(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  Host::instance().addControlLog(level, text);
  return 0;
}

int ExtensionControl::registerProvider(const char* name, Given<Provider> provider) {
  Host::instance().addRegistration(name, provider.take());
  return 0;
}

// Host ------------------------------------------------------------------

namespace {
class ControlInstance : public ExtensionControl {};
}  // namespace

Host::Host() = default;

Host& Host::instance() {
  static Host* host = new Host();  // lives until process exit
  return *host;
}

ExtensionControl* Host::control() {
  static ControlInstance* control = new ControlInstance();
  return control;
}

void Host::setAnswerNull(bool answer_null) {
  std::lock_guard<std::mutex> lock(mu_);
  answer_null_ = answer_null;
}

ExtensionControl* Host::ordinal6() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (answer_null_) return nullptr;
  }
  return control();
}

void Host::ordinal9(const char* name, const int32_t* version) {
  std::lock_guard<std::mutex> lock(mu_);
  VersionDeclaration d{name ? name : "", -1, -1, -1};
  if (version) {
    d.major = version[0];
    d.minor = version[1];
    d.patch = version[2];
  }
  versions_.push_back(d);
}

void Host::addRegistration(const char* name, Provider* provider) {
  std::lock_guard<std::mutex> lock(mu_);
  registrations_.push_back({name ? name : "", Ref<Provider>::Adopt(provider)});
}

void Host::addControlLog(int level, const std::string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  control_logs_.push_back({level, text});
}

void Host::forgetProvider(Provider* provider) {
  std::vector<Registration> dropped;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = registrations_.begin(); it != registrations_.end();) {
      if (it->provider.get() == provider) {
        dropped.push_back(std::move(*it));
        it = registrations_.erase(it);
      } else {
        ++it;
      }
    }
  }
}

std::vector<Registration> Host::registrations() const {
  std::lock_guard<std::mutex> lock(mu_);
  return registrations_;
}

std::vector<VersionDeclaration> Host::versionDeclarations() const {
  std::lock_guard<std::mutex> lock(mu_);
  return versions_;
}

std::vector<LogEntry> Host::controlLogs() const {
  std::lock_guard<std::mutex> lock(mu_);
  return control_logs_;
}

void Host::clear() {
  std::vector<Registration> dropped;
  {
    std::lock_guard<std::mutex> lock(mu_);
    dropped.swap(registrations_);
    versions_.clear();
    control_logs_.clear();
  }
  // Providers are released outside the lock: their destructors run
  // extension code.
}

// Loading ---------------------------------------------------------------

bool LoadExtension(const std::string& path, LoadedExtension* out, std::string* error,
                   bool keep_mapped) {
  Host& host = Host::instance();
  const size_t before = host.registrations().size();
  platform::LibHandle handle =
      platform::OpenLibrary(path.c_str(), keep_mapped ? platform::kLoadPinned : platform::kLoadLocal);
  if (handle == nullptr) {
    if (error) *error = std::string("cannot load ") + path + ": " + platform::LastLoadError();
    return false;
  }
  std::vector<Registration> regs = host.registrations();
  if (regs.size() <= before) {
    platform::CloseLibrary(handle);
    if (error) *error = path + " registered no extension provider";
    return false;
  }
  out->handle = handle;
  out->providerName = regs.back().name;
  out->provider = regs.back().provider;
  return true;
}

void UnloadExtension(LoadedExtension* ext) {
  if (ext == nullptr) return;
  if (ext->provider) Host::instance().forgetProvider(ext->provider.get());
  ext->provider.reset();
  if (ext->handle) platform::CloseLibrary(ext->handle);
  ext->handle = nullptr;
}

}  // namespace oxhost

extern "C" {

oxhost::ExtensionControl* oxrin_rtc_sdk_ordinal_6() { return oxhost::Host::instance().ordinal6(); }

int oxrin_rtc_sdk_ordinal_9(const char* provider_name, const int32_t* version) {
  oxhost::Host::instance().ordinal9(provider_name, version);
  return 0;
}

}  // extern "C"
