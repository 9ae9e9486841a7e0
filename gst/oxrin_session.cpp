#include "gst/oxrin_session.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/platform.h"

namespace oxgst {

namespace {

constexpr char kExtensionPvc[] = "pvc";
constexpr char kExtensionFisheye[] = "fisheye";
constexpr char kLibraryPvc[] = "percept_ext";
constexpr char kLibraryFisheye[] = "lenscorr_ext";
constexpr char kLibrarySuffix[] = ".so";

constexpr char kErrNoExtension[] =
    "no extension set: extension=pvc, extension=fisheye or extension=PATH of an extension library";
constexpr char kErrUnknownExtension[] =
    "unknown extension \"%s\": use pvc, fisheye or the path of an extension library";
constexpr char kErrPairWithoutEquals[] = "malformed properties: \"%s\" is not KEY=VALUE";
constexpr char kErrUnbalanced[] =
    "malformed properties: unbalanced braces, brackets or quotes in \"%s\"";
constexpr char kErrNoProvider[] = "extension %s offers no filter";
constexpr char kErrNoFilter[] = "extension %s offers no filter \"%s\" (it offers %s)";
constexpr char kErrNotCreated[] = "provider \"%s\" did not create its filter \"%s\"";
constexpr char kErrRejected[] = "filter %s rejected property %s=%s (result %d)";
constexpr char kErrNotStarted[] = "filter %s did not start (result %d)";
constexpr char kErrTooLarge[] =
    "filter %s cannot take %dx%d frames: it takes at most %dx%d (%dx%d portrait); %s";
constexpr char kErrTooManyPixels[] =
    "filter %s cannot take %dx%d frames: it takes at most %lld pixels; %s";

// Filters the element knows; the last row stands for any other.
const FilterTraits kTraits[] = {
    {"pvc", false, true, 1280, 720, 0, "larger frames would pass through it unfiltered",
     "pvc_parameter", "{\"Backend\":\"auto\"}"},
    {"FishCorrectionVideoFilter", true, false, 16384, 16384, 7680LL * 4320LL,
     "larger frames would pass through it uncorrected", "fishCorrection", "{\"enable\":1}"},
    {nullptr, false, false, 0, 0, 0, nullptr, nullptr, nullptr},
};

constexpr int kMaxDescriptors = 16;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string Trim(const std::string& s) {
  const char* space = " \t\r\n";
  const size_t b = s.find_first_not_of(space);
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(space) - b + 1);
}

// Extension libraries stay loaded until the process exits: a library
// registers its provider once, while it is first loaded.
struct LoadedLibraries {
  std::mutex mu;
  std::map<std::string, oxhost::LoadedExtension*> byPath;
};

LoadedLibraries& Libraries() {
  static LoadedLibraries* libraries = new LoadedLibraries();  // lives until exit
  return *libraries;
}

oxhost::LoadedExtension* Load(const std::string& path, std::string* error) {
  char resolved[PATH_MAX];
  const std::string key = realpath(path.c_str(), resolved) ? std::string(resolved) : path;
  LoadedLibraries& libs = Libraries();
  std::lock_guard<std::mutex> lock(libs.mu);
  auto it = libs.byPath.find(key);
  if (it != libs.byPath.end()) return it->second;
  auto* ext = new oxhost::LoadedExtension();
  if (!oxhost::LoadExtension(path, ext, error, /*keep_mapped=*/true)) {
    delete ext;
    return nullptr;
  }
  ext->provider->setExtensionControl(oxhost::Host::instance().control());
  libs.byPath[key] = ext;
  return ext;
}

void CopyRows(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int rowBytes,
              int rows) {
  for (int y = 0; y < rows; ++y)
    std::memcpy(dst + static_cast<size_t>(y) * dstStride, src + static_cast<size_t>(y) * srcStride,
                static_cast<size_t>(rowBytes));
}

}  // namespace

const FilterTraits& TraitsFor(const std::string& filterName) {
  const FilterTraits* t = kTraits;
  while (t->name != nullptr && filterName != t->name) ++t;
  return *t;
}

bool ParseProperties(const std::string& text, std::vector<std::pair<std::string, std::string>>* out,
                     std::string* error) {
  out->clear();
  std::vector<std::string> pieces;
  std::string piece;
  int depth = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (--depth < 0) break;
    } else if (depth == 0 && (c == ';' || c == '\n')) {
      pieces.push_back(piece);
      piece.clear();
      continue;
    }
    piece += c;
  }
  if (depth != 0 || inString) {
    *error = Format(kErrUnbalanced, text.c_str());
    return false;
  }
  pieces.push_back(piece);
  for (const std::string& raw : pieces) {
    const std::string p = Trim(raw);
    if (p.empty()) continue;
    const size_t eq = p.find('=');
    if (eq == std::string::npos || Trim(p.substr(0, eq)).empty()) {
      *error = Format(kErrPairWithoutEquals, p.c_str());
      return false;
    }
    out->emplace_back(Trim(p.substr(0, eq)), p.substr(eq + 1));
  }
  return true;
}

std::string ResolveExtension(const std::string& value, const std::string& pluginDir,
                             std::string* error) {
  std::string file;
  if (value.empty()) {
    *error = kErrNoExtension;
    return std::string();
  } else if (value == kExtensionPvc) {
    file = platform::SharedLibraryFileName(kLibraryPvc);
  } else if (value == kExtensionFisheye) {
    file = platform::SharedLibraryFileName(kLibraryFisheye);
  } else if (value.find('/') != std::string::npos ||
             value.find(kLibrarySuffix) != std::string::npos) {
    return value;
  } else {
    *error = Format(kErrUnknownExtension, value.c_str());
    return std::string();
  }
  for (const std::string& candidate : {pluginDir + "/../" + file, pluginDir + "/" + file}) {
    char resolved[PATH_MAX];
    if (access(candidate.c_str(), R_OK) == 0)
      return realpath(candidate.c_str(), resolved) ? std::string(resolved) : candidate;
  }
  return file;  // left to the loader's search path
}

// Session ---------------------------------------------------------------

Session::~Session() { close(); }

bool Session::open(const std::string& libraryPath, const std::string& filterName,
                   const std::vector<std::pair<std::string, std::string>>& properties, LogSink sink,
                   void* sinkCtx, std::string* error) {
  close();
  oxhost::LoadedExtension* ext = Load(libraryPath, error);
  if (ext == nullptr) return false;

  oxhost::Descriptor offered[kMaxDescriptors] = {};
  int count = 0;
  ext->provider->listExtensions(offered, &count);
  count = std::min(count, kMaxDescriptors);
  if (count < 1 || offered[0].name == nullptr) {
    *error = Format(kErrNoProvider, libraryPath.c_str());
    return false;
  }
  std::string name = filterName.empty() ? offered[0].name : filterName, names;
  bool listed = false;
  for (int i = 0; i < count; ++i) {
    if (offered[i].name == nullptr) continue;
    listed = listed || name == offered[i].name;
    names += (names.empty() ? "\"" : ", \"") + std::string(offered[i].name) + "\"";
  }
  if (!listed) {
    *error = Format(kErrNoFilter, libraryPath.c_str(), name.c_str(), names.c_str());
    return false;
  }
  ext->provider->createVideoFilter(filter_, name.c_str());
  if (!filter_) {
    *error = Format(kErrNotCreated, ext->providerName.c_str(), name.c_str());
    return false;
  }
  filterName_ = name;
  traits_ = &TraitsFor(name);

  std::vector<std::pair<std::string, std::string>> all;
  if (traits_->defaultKey) all.emplace_back(traits_->defaultKey, traits_->defaultValue);
  all.insert(all.end(), properties.begin(), properties.end());
  for (const auto& p : all) {
    const int rc = filter_->setProperty(p.first.c_str(), p.second.c_str(), p.second.size());
    if (rc != 0) {
      *error = Format(kErrRejected, name.c_str(), p.first.c_str(), p.second.c_str(), rc);
      filter_.reset();
      return false;
    }
  }

  control_ = oxhost::FilterControl::Create();
  control_->setLogSink(sink, sinkCtx);
  const int rc = filter_->start(oxhost::Given<oxhost::FilterControl>(control_.get()));
  control_->clear();
  started_ = true;
  if (rc != 0) {
    *error = Format(kErrNotStarted, name.c_str(), rc);
    close();
    return false;
  }
  return true;
}

bool Session::setGeometry(int width, int height, bool nv12, std::string* error) {
  const FilterTraits& t = *traits_;
  const int longSide = std::max(width, height), shortSide = std::min(width, height);
  if (t.maxLongSide > 0 && (longSide > t.maxLongSide || shortSide > t.maxShortSide)) {
    *error = Format(kErrTooLarge, filterName_.c_str(), width, height, t.maxLongSide, t.maxShortSide,
                    t.maxShortSide, t.maxLongSide, t.limitWhy);
    return false;
  }
  if (t.maxPixels > 0 && static_cast<long long>(width) * height > t.maxPixels) {
    *error = Format(kErrTooManyPixels, filterName_.c_str(), width, height, t.maxPixels, t.limitWhy);
    return false;
  }
  // Packed planes where a buffer's layout may not suit the filter: luma
  // rows of `width` bytes for a filter that ignores the pitch, and separate
  // chroma planes of one pitch for a filter that reads chroma.
  const size_t luma = static_cast<size_t>(width) * height;
  const size_t chroma = static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2);
  lumaScratch_ = std::vector<uint8_t>(t.honoursLumaPitch ? 0 : luma);
  chromaScratch_ = std::vector<uint8_t>(t.lumaOnly && nv12 ? 0 : 2 * chroma);
  return true;
}

int Session::process(const Picture& in, double* filterMs) {
  const int w = in.width, h = in.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
  oxhost::FrameRecord r;
  std::memset(&r, 0, sizeof r);
  r.width = w;
  r.height = h;

  const bool lumaCopy = !traits_->honoursLumaPitch && in.stride[0] != w;
  if (lumaCopy) {
    CopyRows(in.data[0], in.stride[0], lumaScratch_.data(), w, w, h);
    r.luma = lumaScratch_.data();
    r.lumaPitch = w;
  } else {
    r.luma = in.data[0];
    r.lumaPitch = in.stride[0];
  }
  // The chroma block: I420 planes of one pitch in place; otherwise (NV12,
  // or Cb and Cr pitches that differ) packed copies, unless the filter
  // reads no chroma.
  const bool inPlace = !in.nv12 && in.stride[1] == in.stride[2];
  const bool chromaCopy = !inPlace && !traits_->lumaOnly;
  if (inPlace || chromaCopy) {
    r.format = 1;
    r.chromaWidth = cw;
    r.chromaHeight = ch;
  }
  if (inPlace) {
    r.cb = in.data[1];
    r.cr = in.data[2];
    r.chromaPitch = in.stride[1];
  } else if (chromaCopy) {
    r.cb = chromaScratch_.data();
    r.cr = r.cb + static_cast<size_t>(cw) * ch;
    r.chromaPitch = cw;
    if (in.nv12) {
      for (int y = 0; y < ch; ++y) {
        const uint8_t* s = in.data[1] + static_cast<size_t>(y) * in.stride[1];
        uint8_t* cb = r.cb + static_cast<size_t>(y) * cw;
        uint8_t* cr = r.cr + static_cast<size_t>(y) * cw;
        for (int x = 0; x < cw; ++x) {
          cb[x] = s[2 * x];
          cr[x] = s[2 * x + 1];
        }
      }
    } else {
      CopyRows(in.data[1], in.stride[1], r.cb, cw, cw, ch);
      CopyRows(in.data[2], in.stride[2], r.cr, cw, cw, ch);
    }
  }

  frame_->describe(r);
  const int refsBefore = frame_->refCount();
  oxhost::Ref<oxhost::VideoFrame> output;
  const auto t0 = std::chrono::steady_clock::now();
  const int result = filter_->processFrame(oxhost::Given<oxhost::VideoFrame>(frame_.get()), output);
  const auto t1 = std::chrono::steady_clock::now();
  output.reset();
  if (frame_->refCount() != refsBefore) ++keptRefs_;
  control_->clear();  // the element has had every line through its sink
  if (filterMs) *filterMs = std::chrono::duration<double, std::milli>(t1 - t0).count();

  if (result == 0 && lumaCopy) CopyRows(r.luma, w, in.data[0], in.stride[0], w, h);
  if (result == 0 && chromaCopy) {
    if (in.nv12) {
      for (int y = 0; y < ch; ++y) {
        uint8_t* d = in.data[1] + static_cast<size_t>(y) * in.stride[1];
        const uint8_t* cb = r.cb + static_cast<size_t>(y) * cw;
        const uint8_t* cr = r.cr + static_cast<size_t>(y) * cw;
        for (int x = 0; x < cw; ++x) {
          d[2 * x] = cb[x];
          d[2 * x + 1] = cr[x];
        }
      }
    } else {
      CopyRows(r.cb, cw, in.data[1], in.stride[1], cw, ch);
      CopyRows(r.cr, cw, in.data[2], in.stride[2], cw, ch);
    }
  }
  return result;
}

void Session::close() {
  if (filter_ && started_) filter_->stop();
  started_ = false;
  if (control_) control_->setLogSink(nullptr, nullptr);
  filter_.reset();
  control_.reset();
  lumaScratch_ = std::vector<uint8_t>();
  chromaScratch_ = std::vector<uint8_t>();
}

}  // namespace oxgst
