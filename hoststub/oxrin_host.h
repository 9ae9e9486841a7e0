// Host stand-in: a small replacement for the host SDK library, enough to
// load an extension, receive its provider, create a filter and drive it
// frame by frame.  It declares the extension interfaces itself, by slot,
// and shares no header with the extensions, so a slot-order mistake on
// either side shows up as wrong behaviour instead of being hidden.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

// The stand-in's C++ interface is exported by name for the programs built
// on it.  Its two entry points are not: on Windows they are exported by
// ordinal only (oxrin_rtc_sdk.def), elsewhere by their C names.
#if defined(oxrin_rtc_sdk_EXPORTS)
#define OXHOST_API OX_EXPORT
#else
#define OXHOST_API OX_IMPORT
#endif
#if defined(OXHOST_ORDINAL_EXPORTS)
#define OXHOST_ENTRY
#else
#define OXHOST_ENTRY OXHOST_API
#endif

namespace oxhost {

// Holder of one reference (host side).
template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p) : p_(p) {
    if (p_) p_->addRef();
  }
  static Ref Adopt(T* p) {
    Ref r;
    r.p_ = p;
    return r;
  }
  Ref(const Ref& o) : p_(o.p_) {
    if (p_) p_->addRef();
  }
  Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ~Ref() { reset(); }
  Ref& operator=(Ref o) noexcept {
    T* old = p_;
    p_ = o.p_;
    o.p_ = old;
    return *this;
  }
  void reset() {
    T* p = p_;
    p_ = nullptr;
    if (p) p->release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// A reference handed over by value.  The receiver owns it and must release
// it; the sender's copy does nothing when it goes away, so a receiver that
// forgets to release leaves the count visibly high.  Non-trivial, so it is
// passed in memory exactly like the extensions' own holder.
template <class T>
class Given {
 public:
  explicit Given(T* p) : p_(p) {
    if (p_) p_->addRef();
  }
  Given() = default;
  Given(const Given& o) : p_(o.p_) {}
  ~Given() {}
  T* take() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

// The host's frame record: the extensions read the luma pointer (16),
// width (96) and height (100); the stand-in also publishes the chroma
// planes and pitches in its own fields.
struct FrameRecord {
  int32_t format;         // 0: 1 = I420
  int32_t reserved4;      // 4
  int64_t timestampUs;    // 8
  uint8_t* luma;          // 16
  uint8_t* cb;            // 24
  uint8_t* cr;            // 32
  int32_t lumaPitch;      // 40
  int32_t chromaPitch;    // 44
  int32_t chromaWidth;    // 48
  int32_t chromaHeight;   // 52
  uint8_t reserved56[40]; // 56
  int32_t width;          // 96
  int32_t height;         // 100
  int32_t reserved104;    // 104
  int32_t preset108;      // 108
  int32_t preset112;      // 112
  int32_t preset116;      // 116
  int32_t preset120;      // 120
  uint8_t reserved124[20];
};
static_assert(sizeof(FrameRecord) == 144, "record size");
static_assert(offsetof(FrameRecord, luma) == 16, "luma offset");
static_assert(offsetof(FrameRecord, width) == 96, "width offset");
static_assert(offsetof(FrameRecord, height) == 100, "height offset");

// Host objects ----------------------------------------------------------

// Video frame: an I420 picture in one buffer, luma pitch = width.
class OXHOST_API VideoFrame {
 public:
  static Ref<VideoFrame> Create(int width, int height);
  // A frame that reports a size and plane pointer of the caller's choosing
  // (for testing extensions against records no real plane can have).
  static Ref<VideoFrame> CreateWithRecord(int width, int height, uint8_t* luma);
  // A frame over planes the caller owns: getFrameData hands out the record
  // last given to describe (planes, pitches, sizes), as a host does for the
  // buffers of a media pipeline.
  static Ref<VideoFrame> CreateDescribed();
  void describe(const FrameRecord& record);

  virtual void addRef();                          // 0
  virtual int release();                          // 1
  virtual void slot2();                           // 2
  virtual void slot3();                           // 3
  virtual int getFrameData(FrameRecord* record);  // 4

  int width() const { return width_; }
  int height() const { return height_; }
  int chromaWidth() const { return (width_ + 1) / 2; }
  int chromaHeight() const { return (height_ + 1) / 2; }
  uint8_t* luma() { return luma_; }
  uint8_t* cb() { return cb_; }
  uint8_t* cr() { return cr_; }
  size_t size() const { return planes_.size(); }
  uint8_t* data() { return planes_.data(); }
  int refCount() const { return refs_.load(); }
  int getFrameDataCalls() const { return data_calls_.load(); }

 protected:
  virtual ~VideoFrame();

 private:
  VideoFrame(int width, int height);
  std::atomic<int> refs_{0};
  std::atomic<int> data_calls_{0};
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> planes_;
  uint8_t* luma_ = nullptr;
  uint8_t* cb_ = nullptr;
  uint8_t* cr_ = nullptr;
  bool described_ = false;
  FrameRecord description_{};
};

struct LogEntry {
  int level;
  std::string text;
};

struct EventEntry {
  std::string key;
  std::string value;
};

// Control handed to a filter's start; records log and postEvent calls.
class OXHOST_API FilterControl {
 public:
  static Ref<FilterControl> Create();

  virtual void addRef();                                        // 0
  virtual int release();                                        // 1
  virtual void slot2();                                         // 2
  virtual void slot3();                                         // 3
  virtual void slot4();                                         // 4
  virtual void slot5();                                         // 5
  virtual int postEvent(const char* key, const char* value);    // 6
  virtual int log(int level, const char* format, ...)           // 7
      __attribute__((format(printf, 3, 4)));

  std::vector<LogEntry> logs() const;
  std::vector<EventEntry> events() const;
  void clear();
  int refCount() const { return refs_.load(); }
  // Optional sink called for every log line (set before use).
  void setLogSink(void (*sink)(void* ctx, int level, const char* text), void* ctx);

 protected:
  FilterControl() = default;
  virtual ~FilterControl() = default;

 private:
  std::atomic<int> refs_{0};
  mutable std::mutex mu_;
  std::vector<LogEntry> logs_;
  std::vector<EventEntry> events_;
  void (*sink_)(void*, int, const char*) = nullptr;
  void* sink_ctx_ = nullptr;
};

// Extension interfaces as the host calls them --------------------------

struct Descriptor {
  int32_t kind;
  const char* name;
};
static_assert(sizeof(Descriptor) == 16, "descriptor size");

class VideoFilter {
 public:
  virtual void addRef() = 0;                                        // 0
  virtual int release() = 0;                                        // 1
  virtual bool hasOneRef() = 0;                                     // 2
  // The deleting destructor as the Microsoft ABI lays it out: one entry.
  // The host never calls it; objects destroy themselves on release.
  virtual void* scalarDeletingDestructor(unsigned int flags) = 0;   // 3
  virtual bool slot4() = 0;                                         // 4
  virtual void setEnabled(bool enabled) = 0;                        // 5
  virtual bool isEnabled() = 0;                                     // 6
  virtual int setProperty(const char* key, const char* value, size_t size) = 0;  // 7
  virtual int slot8() = 0;                                          // 8
  virtual bool slot9() = 0;                                         // 9
  virtual void slot10() = 0;                                        // 10
  virtual bool slot11() = 0;                                        // 11
  virtual bool slot12() = 0;                                        // 12
  virtual void slot13(int* value, bool* flag) = 0;                  // 13
  virtual int start(Given<FilterControl> control) = 0;              // 14
  virtual int stop() = 0;                                           // 15
  virtual void slot16(int* a, int* b) = 0;                          // 16
  virtual int dropFrame(Given<VideoFrame> frame) = 0;               // 17
  virtual int processFrame(Given<VideoFrame> input, Ref<VideoFrame>& output) = 0;  // 18
  virtual bool slot19() = 0;                                        // 19

 protected:
  ~VideoFilter() = default;
};

class Provider {
 public:
  virtual void addRef() = 0;                                        // 0
  virtual int release() = 0;                                        // 1
  virtual bool hasOneRef() = 0;                                     // 2
  virtual void* scalarDeletingDestructor(unsigned int flags) = 0;   // 3
  virtual void setExtensionControl(class ExtensionControl* control) = 0;  // 4
  virtual void listExtensions(Descriptor* out, int* count) = 0;     // 5
  virtual void slot6(Ref<VideoFilter>& out, const char* name) = 0;  // 6
  virtual void createVideoFilter(Ref<VideoFilter>& out, const char* name) = 0;  // 7
  virtual void slot8(Ref<VideoFilter>& out, const char* name) = 0;  // 8
  virtual void slot9() = 0;                                         // 9

 protected:
  ~Provider() = default;
};

// The host's extension control (one per process).
class OXHOST_API ExtensionControl {
 public:
  virtual void slot0();                                                  // 0
  virtual void slot1();                                                  // 1
  virtual void slot2();                                                  // 2
  virtual int log(int level, const char* format, ...)                    // 3
      __attribute__((format(printf, 3, 4)));
  virtual void slot4();                                                  // 4
  virtual int registerProvider(const char* name, Given<Provider> provider);  // 5

 protected:
  ExtensionControl() = default;
  virtual ~ExtensionControl() = default;
  friend class Host;
};

struct Registration {
  std::string name;
  Ref<Provider> provider;
};

struct VersionDeclaration {
  std::string name;
  int32_t major, minor, patch;
};

// The process-wide host state behind ordinals 6 and 9.
class OXHOST_API Host {
 public:
  static Host& instance();

  ExtensionControl* control();
  // When set, ordinal 6 answers null (the host takes no providers).
  void setAnswerNull(bool answer_null);

  std::vector<Registration> registrations() const;
  std::vector<VersionDeclaration> versionDeclarations() const;
  std::vector<LogEntry> controlLogs() const;
  // Forgets registrations (releasing their providers) and all records.
  void clear();

  // Internal: called by the entry points and the control.
  ExtensionControl* ordinal6();
  void ordinal9(const char* name, const int32_t* version);
  void addRegistration(const char* name, Provider* provider);
  void addControlLog(int level, const std::string& text);
  // Drops the host's own reference to a provider (before its library goes).
  void forgetProvider(Provider* provider);

 private:
  Host();
  mutable std::mutex mu_;
  bool answer_null_ = false;
  std::vector<Registration> registrations_;
  std::vector<VersionDeclaration> versions_;
  std::vector<LogEntry> control_logs_;
};

// Loads an extension library and returns the provider it registered while
// loading.  On failure returns an empty reference and fills *error.  With
// keep_mapped the library stays mapped after UnloadExtension, until the
// process exits, the way a host keeps the extensions it loaded: their
// process-wide tables are meant to live until exit.
struct LoadedExtension {
  void* handle = nullptr;
  std::string providerName;
  Ref<Provider> provider;
};
OXHOST_API bool LoadExtension(const std::string& path, LoadedExtension* out, std::string* error,
                              bool keep_mapped = false);
// Releases the provider and unloads the library.
OXHOST_API void UnloadExtension(LoadedExtension* ext);

}  // namespace oxhost

extern "C" {
OXHOST_ENTRY oxhost::ExtensionControl* oxrin_rtc_sdk_ordinal_6();
OXHOST_ENTRY int oxrin_rtc_sdk_ordinal_9(const char* provider_name, const int32_t* version);
}
