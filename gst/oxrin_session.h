// The part of the oxrinext element that knows nothing of GStreamer: it
// resolves and loads an extension library through the host stand-in,
// creates and configures its filter, and runs picture planes through it,
// honouring any row pitch and plane layout the caller's buffer has.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "hoststub/oxrin_host.h"

namespace oxgst {

// What the element knows about a filter it can drive.
struct FilterTraits {
  const char* name;       // filter name as the provider lists it; null: any other
  bool honoursLumaPitch;  // reads the record's lumaPitch (else: rows of `width` bytes)
  bool lumaOnly;          // touches only the luma plane
  int maxLongSide;        // largest frame taken (0: no limit)
  int maxShortSide;
  long long maxPixels;
  const char* limitWhy;    // what the filter would do with a larger frame
  const char* defaultKey;  // property set before the user's ones (null: none)
  const char* defaultValue;
};

const FilterTraits& TraitsFor(const std::string& filterName);

// Splits "KEY=VALUE;KEY=VALUE" (';' or a newline between pairs, outside
// JSON braces, brackets and strings) into pairs; false with *error when
// the text is malformed.
bool ParseProperties(const std::string& text, std::vector<std::pair<std::string, std::string>>* out,
                     std::string* error);

// The library an `extension` value names: pvc and fisheye resolve to the
// extensions beside the plugin (its folder's parent first, as in an
// installed tree), a value with '/' or the library suffix is a path; ""
// with *error for anything else.
std::string ResolveExtension(const std::string& value, const std::string& pluginDir,
                             std::string* error);

// One picture as the caller's buffer lays it out: I420 (three planes) or
// NV12 (luma and interleaved Cb/Cr), any row pitch.
struct Picture {
  uint8_t* data[3] = {nullptr, nullptr, nullptr};
  int stride[3] = {0, 0, 0};
  int width = 0;
  int height = 0;
  bool nv12 = false;
};

using LogSink = void (*)(void* ctx, int level, const char* text);

class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Loads the library (once per process), creates the filter (filterName
  // empty: the provider's first), sets the properties and starts it.
  bool open(const std::string& libraryPath, const std::string& filterName,
            const std::vector<std::pair<std::string, std::string>>& properties, LogSink sink,
            void* sinkCtx, std::string* error);
  // A new picture geometry; false with *error when the filter cannot take it.
  bool setGeometry(int width, int height, bool nv12, std::string* error);
  // Runs one picture through the filter in place; the filter's result.
  int process(const Picture& picture, double* filterMs);
  // Stops the filter and releases it.
  void close();

  const std::string& filterName() const { return filterName_; }
  // References the filter kept to frames it was given (should stay 0).
  long keptReferences() const { return keptRefs_; }

 private:
  oxhost::Ref<oxhost::VideoFilter> filter_;
  oxhost::Ref<oxhost::FilterControl> control_;
  const FilterTraits* traits_ = nullptr;
  std::string filterName_;
  bool started_ = false;
  // The host frame the filter receives: each buffer's planes, with their
  // pitches, described for the length of one processFrame call.
  oxhost::Ref<oxhost::VideoFrame> frame_ = oxhost::VideoFrame::CreateDescribed();
  // Packed planes for filters that need them, sized per geometry.
  std::vector<uint8_t> lumaScratch_, chromaScratch_;
  long keptRefs_ = 0;
};

}  // namespace oxgst
