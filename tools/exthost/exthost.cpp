// exthost: a command-line host for the extension libraries.  Loads an
// extension through the host stand-in, creates its filter, feeds it the
// frames of a YUV4MPEG2 stream (or a generated clip) and writes the
// filtered stream, then prints a summary.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "hoststub/oxrin_host.h"
#include "jnd/jnd_filter_cpu.h"
#include "pvc/pvc_video_filter.h"
#include "platform/platform.h"
#include "tools/exthost/builtin_clip.h"
#include "tools/exthost/gpu_probe.h"
#include "tools/exthost/png_writer.h"
#include "tools/exthost/y4m.h"

namespace {

enum ExitCode {
  kExitOk = 0,
  kExitUsage = 1,
  kExitInput = 2,
  kExitExtension = 3,
  kExitOutput = 4,
};

constexpr char kUsage[] =
    "usage: exthost --ext fisheye|pvc|PATH.so [options]\n"
    "\n"
    "Loads a video filter extension through the host stand-in and runs a\n"
    "YUV4MPEG2 (8-bit 4:2:0) stream through it.\n"
    "\n"
    "  --ext NAME          fisheye (liblenscorr_ext.so), pvc (libpercept_ext.so)\n"
    "                      or the path of an extension library\n"
    "  -i, --input FILE    input .y4m, '-' for standard input; without it a\n"
    "                      generated 1280x720 clip of 60 frames is used\n"
    "  -o, --output FILE   output .y4m, '-' for standard output; without it\n"
    "                      the frames are filtered and discarded\n"
    "  --frames N          stop after N frames\n"
    "  --property KEY=VALUE  set a filter property before start (repeatable);\n"
    "                      fisheye gets fishCorrection={\"enable\":1} unless given\n"
    "  --log FILE          write the host log lines (level and text) to FILE\n"
    "  --quiet             no progress line, no OpenCL progress lines\n"
    "\n"
    "pvc only:\n"
    "  --backend B         auto (default): OpenCL when OpenCL finds a GPU, else\n"
    "                      the CPU; opencl: always OpenCL (without a GPU every\n"
    "                      frame passes through); cpu: always the CPU\n"
    "  --threads N         threads of the CPU backend, 1..64 (default: the\n"
    "                      number of cores)\n"
    "  --persona NAME      run on this machine's OpenCL device presented as the\n"
    "                      GPU NAME (nvidia, intel, amd, arm, qualcomm,\n"
    "                      imagination, apple, or persona fields); test use\n"
    "  --model N           weight set 1..4 (property pvc_one_model)\n"
    "  --compare FILE.png  write input luma, output luma and the amplified\n"
    "                      difference of one frame side by side\n"
    "  --compare-frame K   the frame for --compare (1-based; default 3)\n"
    "  On OpenCL pvc gets pvc_parameter={\"DevicesId\":\"<first OpenCL GPU>\",\n"
    "  \"Backend\":\"opencl\"} as a host would pass it, on the CPU\n"
    "  {\"Backend\":\"cpu\",\"CpuThreads\":N}; --property pvc_parameter=... is\n"
    "  applied after.\n"
    "  -h, --help          this text\n"
    "\n"
    "Exit status: 0 done, 1 bad command line, 2 bad input stream,\n"
    "3 extension failed to load or rejected a property, 4 cannot write output.\n";

static_assert(jnd::kJndCpuMaxThreads == 64, "the usage text gives --threads as 1..64");

// pvc backends as --backend names them: the filter's "Backend" values.
using pvc::kBackendAuto;
using pvc::kBackendCpu;
using pvc::kBackendOpenCL;
constexpr char kErrBackend[] = "exthost: --backend needs auto, opencl or cpu, got \"%s\"\n";
constexpr char kErrThreads[] = "exthost: --threads needs a count from 1 to %d, got \"%s\"\n";
// Which backend pvc runs on and why, on standard error and in the summary.
constexpr char kMsgOnCpu[] = "exthost: pvc on the CPU (%s), %d thread%s\n";
constexpr char kMsgOnOpenCl[] = "exthost: pvc on OpenCL (%s), GPU \"%s\"\n";
constexpr char kMsgOpenClWithoutGpu[] =
    "exthost: pvc on OpenCL (%s), but %s: the filter will report a library error and pass "
    "every frame through unfiltered\n";
constexpr char kWhyBackendOption[] = "--backend %s";
constexpr char kWhyGpuFound[] = "an OpenCL GPU found";
constexpr char kSummaryOnCpu[] = "  backend:            CPU, %d thread%s (%s)\n";
constexpr char kSummaryOnOpenCl[] = "  backend:            OpenCL (%s)\n";

struct Options {
  std::string ext;
  std::string input;
  std::string output;
  long maxFrames = -1;
  std::vector<std::pair<std::string, std::string>> properties;
  std::string logPath;
  bool quiet = false;
  std::string persona;
  std::string backend = kBackendAuto;
  int threads = 0;  // 0: the number of cores
  int model = 0;
  std::string comparePath;
  long compareFrame = 3;
};

void Fail(const char* what) { std::fprintf(stderr, "exthost: %s\n", what); }

int ParseArgs(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "exthost: %s needs a value\n", a.c_str());
        return false;
      }
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return -1;
    } else if (a == "--ext") {
      if (!value(&o->ext)) return kExitUsage;
    } else if (a == "-i" || a == "--input") {
      if (!value(&o->input)) return kExitUsage;
    } else if (a == "-o" || a == "--output") {
      if (!value(&o->output)) return kExitUsage;
    } else if (a == "--frames") {
      if (!value(&v)) return kExitUsage;
      char* end = nullptr;
      o->maxFrames = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || o->maxFrames < 0) {
        std::fprintf(stderr, "exthost: --frames needs a count, got \"%s\"\n", v.c_str());
        return kExitUsage;
      }
    } else if (a == "--property") {
      if (!value(&v)) return kExitUsage;
      const size_t eq = v.find('=');
      if (eq == std::string::npos || eq == 0) {
        std::fprintf(stderr, "exthost: --property needs KEY=VALUE, got \"%s\"\n", v.c_str());
        return kExitUsage;
      }
      o->properties.emplace_back(v.substr(0, eq), v.substr(eq + 1));
    } else if (a == "--log") {
      if (!value(&o->logPath)) return kExitUsage;
    } else if (a == "--quiet") {
      o->quiet = true;
    } else if (a == "--persona") {
      if (!value(&o->persona)) return kExitUsage;
    } else if (a == "--backend") {
      if (!value(&o->backend)) return kExitUsage;
      if (o->backend != kBackendAuto && o->backend != kBackendOpenCL && o->backend != kBackendCpu) {
        std::fprintf(stderr, kErrBackend, o->backend.c_str());
        return kExitUsage;
      }
    } else if (a == "--threads") {
      if (!value(&v)) return kExitUsage;
      char* end = nullptr;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || n < 1 || n > jnd::kJndCpuMaxThreads) {
        std::fprintf(stderr, kErrThreads, jnd::kJndCpuMaxThreads, v.c_str());
        return kExitUsage;
      }
      o->threads = static_cast<int>(n);
    } else if (a == "--model") {
      if (!value(&v)) return kExitUsage;
      char* end = nullptr;
      const long m = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || m < 1 || m > 4) {
        std::fprintf(stderr, "exthost: --model needs 1, 2, 3 or 4, got \"%s\"\n", v.c_str());
        return kExitUsage;
      }
      o->model = static_cast<int>(m);
    } else if (a == "--compare") {
      if (!value(&o->comparePath)) return kExitUsage;
    } else if (a == "--compare-frame") {
      if (!value(&v)) return kExitUsage;
      char* end = nullptr;
      o->compareFrame = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || o->compareFrame < 1) {
        std::fprintf(stderr, "exthost: --compare-frame needs a frame number from 1, got \"%s\"\n",
                     v.c_str());
        return kExitUsage;
      }
    } else {
      std::fprintf(stderr, "exthost: unknown option \"%s\" (see --help)\n", a.c_str());
      return kExitUsage;
    }
  }
  if (o->ext.empty()) {
    Fail("--ext is required (see --help)");
    return kExitUsage;
  }
  return kExitOk;
}

std::string ExecutableDir() {
  const std::string path = platform::ExecutablePath();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Resolves a short extension name to the library next to this program.
std::string ExtensionPath(const std::string& ext) {
  std::string file;
  if (ext == "fisheye") {
    file = platform::SharedLibraryFileName("lenscorr_ext");
  } else if (ext == "pvc") {
    file = platform::SharedLibraryFileName("percept_ext");
  } else {
    return ext;
  }
  const std::string dir = ExecutableDir();
  for (const std::string& candidate : {dir + "/../lib/" + file, dir + "/" + file}) {
    if (access(candidate.c_str(), R_OK) == 0) return candidate;
  }
  return file;  // left to the loader's search path
}

std::string PersonaPath() {
  const std::string dir = ExecutableDir();
  for (const std::string& candidate :
       {dir + "/../persona/libOpenCL.so.1", dir + "/../lib/persona/libOpenCL.so.1"}) {
    if (access(candidate.c_str(), R_OK) == 0) return candidate;
  }
  return dir + "/../persona/libOpenCL.so.1";
}

// JSON string literal of a text.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof(esc), "\\u%04x", c);
      out += esc;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

struct LogState {
  FILE* file = nullptr;
  std::map<std::string, int> level4Counts;
};

void OnFilterLog(void* ctx, int level, const char* text) {
  LogState* s = static_cast<LogState*>(ctx);
  if (s->file) std::fprintf(s->file, "%d %s\n", level, text);
  if (level == 4) ++s->level4Counts[text];
}

// The CPU backend's threads when --threads is not given: one per core.
int DefaultCpuThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int>(std::max(1u, std::min(cores, static_cast<unsigned>(jnd::kJndCpuMaxThreads))));
}

// Where pvc runs, as exthost decided it.
struct PvcBackend {
  bool cpu = false;
  int threads = 1;
  std::string gpu;    // OpenCL: the GPU's name, "" when none was found
  std::string noGpu;  // why OpenCL found no GPU
  std::string why;    // why this backend
};

// Decides the backend from --backend and what OpenCL finds; the CPU
// backend never asks OpenCL.
PvcBackend ChoosePvcBackend(const Options& o) {
  PvcBackend b;
  b.threads = o.threads > 0 ? o.threads : DefaultCpuThreads();
  char option[64];
  std::snprintf(option, sizeof option, kWhyBackendOption, o.backend.c_str());
  if (o.backend == kBackendCpu) {
    b.cpu = true;
    b.why = option;
    return b;
  }
  b.gpu = exthost::FirstOpenClGpuName(&b.noGpu);
  if (o.backend == kBackendOpenCL) {
    b.why = option;
  } else if (b.gpu.empty()) {
    b.cpu = true;
    b.why = b.noGpu;
  } else {
    b.why = kWhyGpuFound;
  }
  return b;
}

// The pvc_parameter value a host passes for the chosen backend.
std::string PvcParameter(const PvcBackend& b, const Options& o) {
  std::string value;
  if (b.cpu) {
    value = std::string("{\"Backend\":\"") + kBackendCpu + "\",\"CpuThreads\":" + std::to_string(b.threads);
  } else {
    // What a host passes: the name of the user's GPU.
    value = "{\"DevicesId\":" + JsonString(b.gpu) + ",\"Backend\":\"" + kBackendOpenCL + "\"";
    if (b.gpu.empty()) value += ",\"PvcSupport\":true";
    if (o.threads > 0) value += ",\"CpuThreads\":" + std::to_string(o.threads);
  }
  if (o.model > 0) value += ",\"pvc_one_model\":" + std::to_string(o.model);
  return value + "}";
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  size_t idx = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(idx, v.size() - 1)];
}

double Mean(const std::vector<double>& v) {
  if (v.empty()) return 0.0;
  double s = 0;
  for (double x : v) s += x;
  return s / static_cast<double>(v.size());
}

class Progress {
 public:
  explicit Progress(bool enabled) : enabled_(enabled && isatty(STDERR_FILENO)) {}
  void update(long frames, long total) {
    if (!enabled_) return;
    const double t = Seconds();
    if (t < 1.0 || t - last_ < 0.25) return;
    last_ = t;
    shown_ = true;
    if (total > 0) {
      std::fprintf(stderr, "\rexthost: frame %ld/%ld  %.1f fps ", frames, total, frames / t);
    } else {
      std::fprintf(stderr, "\rexthost: frame %ld  %.1f fps ", frames, frames / t);
    }
  }
  void finish() {
    if (shown_) std::fputc('\n', stderr);
  }

 private:
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  bool enabled_;
  bool shown_ = false;
  double last_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The stream read: a Y4M file or stream, or the generated clip.
struct Input {
  std::string name;  // for messages
  bool generated = false;
  y4m::Reader reader;
  std::string header;
  int width = exthost::kClipWidth;
  int height = exthost::kClipHeight;
  // The frame last read.
  y4m::Frame frame;
  std::vector<uint8_t> clipPicture;
};

// The extension loaded and its filter created.
struct Loaded {
  oxhost::LoadedExtension ext;
  std::string filterName;
  oxhost::Ref<oxhost::VideoFilter> filter;
  // Releases the filter, then the library.
  void unload() {
    filter.reset();
    oxhost::UnloadExtension(&ext);
  }
};

// What the frame loop counted.
struct RunStats {
  long framesIn = 0, processed = 0, notProcessed = 0, noInput = 0, leakedRefs = 0;
  std::vector<double> callMs, filteredMs;
  bool compared = false;
};

// Opens the input first, so a bad stream is reported before anything is
// loaded.
int OpenInput(const Options& opt, Input* in) {
  in->generated = opt.input.empty();
  in->name = in->generated ? "(built-in clip)" : opt.input;
  if (in->generated) {
    in->header = y4m::MakeHeader(in->width, in->height, exthost::kClipFpsNum, exthost::kClipFpsDen);
    return kExitOk;
  }
  if (opt.input == "-") platform::SetBinaryMode(stdin);
  std::string error;
  if (!in->reader.open(opt.input, &error)) {
    std::fprintf(stderr, "exthost: %s: %s\n", in->name.c_str(), error.c_str());
    return kExitInput;
  }
  in->header = in->reader.info().header;
  in->width = in->reader.info().width;
  in->height = in->reader.info().height;
  return kExitOk;
}

int OpenLog(const Options& opt, LogState* log) {
  if (opt.logPath.empty()) return kExitOk;
  log->file = std::fopen(opt.logPath.c_str(), "w");
  if (log->file == nullptr) {
    std::fprintf(stderr, "exthost: cannot create log file %s\n", opt.logPath.c_str());
    return kExitOutput;
  }
  return kExitOk;
}

// The extensions write progress lines to standard output; keep them out of
// a Y4M stream written there (to standard error) or, with --quiet, drop
// them.  Returns the stream the Y4M output goes to when it is standard
// output, else null.
FILE* SeparateStdout(const Options& opt) {
  if (opt.output != "-" && !opt.quiet) return nullptr;
  const int keep = dup(STDOUT_FILENO);
  FILE* y4m_out = fdopen(keep, "wb");
  platform::SetBinaryMode(y4m_out);
  std::fflush(stdout);
  if (opt.quiet) {
    FILE* null = std::fopen(platform::NullDevicePath(), "w");
    if (null) {
      dup2(fileno(null), STDOUT_FILENO);
      std::fclose(null);
    }
  } else {
    dup2(STDERR_FILENO, STDOUT_FILENO);
  }
  return y4m_out;
}

int LoadPersonaIfAsked(const Options& opt) {
  if (opt.persona.empty()) return kExitOk;
  if (!exthost::kPersonaAvailable) {
    Fail("--persona is not available in this build (the device persona is a POSIX library)");
    return kExitUsage;
  }
  std::string error;
  if (!exthost::LoadPersona(opt.persona, PersonaPath(), &error)) {
    std::fprintf(stderr, "exthost: %s\n", error.c_str());
    return kExitExtension;
  }
  return kExitOk;
}

// Loads the extension and creates the filter its provider offers first.
int LoadFilter(const Options& opt, Loaded* l) {
  std::string error;
  const std::string path = ExtensionPath(opt.ext);
  if (!oxhost::LoadExtension(path, &l->ext, &error, /*keep_mapped=*/true)) {
    std::fprintf(stderr, "exthost: %s\n", error.c_str());
    return kExitExtension;
  }
  l->ext.provider->setExtensionControl(oxhost::Host::instance().control());
  oxhost::Descriptor descriptor{0, nullptr};
  int count = 0;
  l->ext.provider->listExtensions(&descriptor, &count);
  if (count < 1 || descriptor.name == nullptr) {
    std::fprintf(stderr, "exthost: %s offers no extension\n", path.c_str());
    l->unload();
    return kExitExtension;
  }
  l->filterName = descriptor.name;
  l->ext.provider->createVideoFilter(l->filter, l->filterName.c_str());
  if (!l->filter) {
    std::fprintf(stderr, "exthost: provider \"%s\" did not create its filter \"%s\"\n",
                 l->ext.providerName.c_str(), l->filterName.c_str());
    l->unload();
    return kExitExtension;
  }
  return kExitOk;
}

// Says which backend pvc runs on and why.
void ReportPvcBackend(const PvcBackend& b) {
  if (b.cpu) {
    std::fprintf(stderr, kMsgOnCpu, b.why.c_str(), b.threads, b.threads == 1 ? "" : "s");
  } else if (b.gpu.empty()) {
    std::fprintf(stderr, kMsgOpenClWithoutGpu, b.why.c_str(), b.noGpu.c_str());
  } else {
    std::fprintf(stderr, kMsgOnOpenCl, b.why.c_str(), b.gpu.c_str());
  }
}

// Sets the properties before start: fisheye's default value, pvc's
// backend value, then those of --property in their order.
int ApplyProperties(const Options& opt, Loaded* l, PvcBackend* pvc_backend) {
  std::vector<std::pair<std::string, std::string>> properties = opt.properties;
  if (opt.ext == "fisheye" &&
      std::none_of(properties.begin(), properties.end(),
                   [](const auto& p) { return p.first == "fishCorrection"; })) {
    properties.insert(properties.begin(), {"fishCorrection", "{\"enable\":1}"});
  }
  if (opt.ext == "pvc") {
    *pvc_backend = ChoosePvcBackend(opt);
    ReportPvcBackend(*pvc_backend);
    properties.insert(properties.begin(), {"pvc_parameter", PvcParameter(*pvc_backend, opt)});
  }
  for (const auto& p : properties) {
    const int rc = l->filter->setProperty(p.first.c_str(), p.second.c_str(), p.second.size());
    if (rc != 0) {
      std::fprintf(stderr, "exthost: filter \"%s\" rejected property %s (result %d)\n",
                   l->filterName.c_str(), p.first.c_str(), rc);
      l->unload();
      return kExitExtension;
    }
  }
  return kExitOk;
}

// Frame `index` of the input: its pixels and its Y4M frame header, kEnd
// after the last one.
y4m::ReadStatus ReadFrame(Input* in, long index, const uint8_t** pixels, std::string* header,
                          std::string* error) {
  if (in->generated) {
    if (index >= exthost::kClipFrames) return y4m::ReadStatus::kEnd;
    exthost::RenderClipFrame(static_cast<int>(index), in->width, in->height, &in->clipPicture);
    *pixels = in->clipPicture.data();
    *header = "FRAME";
    return y4m::ReadStatus::kFrame;
  }
  const y4m::ReadStatus rs = in->reader.read(&in->frame, error);
  *pixels = in->frame.data.data();
  *header = in->frame.header;
  return rs;
}

// Feeds every frame to the started filter and writes what it hands back;
// kExitOk, or the exit status of the first input or output failure (the
// frames before it are written).
int RunFrames(const Options& opt, Input* in, oxhost::VideoFilter* filter, y4m::Writer* writer,
              RunStats* st) {
  const std::string out_name = opt.output == "-" ? "(stdout)" : opt.output;
  const bool writing = !opt.output.empty();
  const int width = in->width, height = in->height;
  const long total = in->generated ? exthost::kClipFrames : -1;
  const long limit = opt.maxFrames >= 0 ? opt.maxFrames : -1;
  std::string error;
  std::vector<uint8_t> compare_in;
  Progress progress(!opt.quiet);
  int exit_code = kExitOk;

  while (limit < 0 || st->framesIn < limit) {
    const uint8_t* src = nullptr;
    std::string frame_header;
    const y4m::ReadStatus rs = ReadFrame(in, st->framesIn, &src, &frame_header, &error);
    if (rs == y4m::ReadStatus::kEnd) break;
    if (rs == y4m::ReadStatus::kError) {
      std::fprintf(stderr, "exthost: %s: %s\n", in->name.c_str(), error.c_str());
      exit_code = kExitInput;
      break;
    }

    oxhost::Ref<oxhost::VideoFrame> frame = oxhost::VideoFrame::Create(width, height);
    std::memcpy(frame->data(), src, frame->size());
    const bool compare_this = !opt.comparePath.empty() && st->framesIn + 1 == opt.compareFrame;
    if (compare_this)
      compare_in.assign(frame->luma(), frame->luma() + static_cast<size_t>(width) * height);
    oxhost::Ref<oxhost::VideoFrame> output;
    const auto t0 = std::chrono::steady_clock::now();
    const int result = filter->processFrame(oxhost::Given<oxhost::VideoFrame>(frame.get()), output);
    const auto t1 = std::chrono::steady_clock::now();
    st->callMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    ++st->framesIn;
    if (result == 0) {
      ++st->processed;
      st->filteredMs.push_back(st->callMs.back());
    } else if (result == 2) {
      ++st->noInput;
    } else {
      ++st->notProcessed;
    }

    oxhost::VideoFrame* out = (result == 0 && output) ? output.get() : frame.get();
    if (out->width() != width || out->height() != height) out = frame.get();
    if (compare_this) {
      const std::vector<uint8_t> pic =
          exthost::SideBySide(compare_in.data(), out->luma(), width, height, 8);
      if (!exthost::WriteGrayPng(opt.comparePath, 3 * width, height, pic, &error)) {
        std::fprintf(stderr, "exthost: %s: %s\n", opt.comparePath.c_str(), error.c_str());
        exit_code = kExitOutput;
        break;
      }
      st->compared = true;
    }
    if (writing && !writer->write(frame_header, out->data(), out->size(), &error)) {
      std::fprintf(stderr, "exthost: %s: %s\n", out_name.c_str(), error.c_str());
      exit_code = kExitOutput;
      break;
    }
    output.reset();
    // The filter owns the reference it was given and must have released it.
    if (frame->refCount() != 1) ++st->leakedRefs;
    progress.update(st->framesIn, limit >= 0 && total > 0 ? std::min(total, limit)
                                                          : (limit >= 0 ? limit : total));
  }
  progress.finish();
  return exit_code;
}

// Writes the collected host log lines after the filter's own and closes
// the log file.
void CloseLog(LogState* log) {
  if (!log->file) return;
  for (const oxhost::LogEntry& e : oxhost::Host::instance().controlLogs())
    std::fprintf(log->file, "%d %s\n", e.level, e.text.c_str());
  std::fclose(log->file);
}

// Prints the summary; answers the exit status, which a --compare-frame
// past the last frame turns into kExitUsage.
int PrintSummary(const Options& opt, const Input& in, const Loaded& l,
                 const PvcBackend& pvc_backend, const LogState& log, const RunStats& st,
                 int exit_code) {
  std::fprintf(stderr, "exthost: %s via %s (%s), %dx%d\n", in.name.c_str(), l.filterName.c_str(),
               l.ext.providerName.c_str(), in.width, in.height);
  std::fprintf(stderr, "  frames in:          %ld\n", st.framesIn);
  std::fprintf(stderr, "  processed:          %ld (result 0)\n", st.processed);
  std::fprintf(stderr, "  passed through:     %ld (result 1: %ld, result 2: %ld)\n",
               st.notProcessed + st.noInput, st.notProcessed, st.noInput);
  const bool is_pvc = opt.ext == "pvc";
  if (is_pvc && pvc_backend.cpu) {
    std::fprintf(stderr, kSummaryOnCpu, pvc_backend.threads, pvc_backend.threads == 1 ? "" : "s",
                 pvc_backend.why.c_str());
  } else if (is_pvc) {
    const std::string what =
        pvc_backend.gpu.empty() ? pvc_backend.noGpu : "GPU \"" + pvc_backend.gpu + "\"";
    std::fprintf(stderr, kSummaryOnOpenCl, what.c_str());
  }
  if (!log.level4Counts.empty()) {
    std::fprintf(stderr, "  host log, level 4:\n");
    for (const auto& kv : log.level4Counts)
      std::fprintf(stderr, "    %6d  %s\n", kv.second, kv.first.c_str());
  }
  std::fprintf(stderr, "  processFrame time:  mean %.3f ms, p95 %.3f ms\n", Mean(st.callMs),
               Percentile(st.callMs, 0.95));
  if (!st.filteredMs.empty())
    std::fprintf(stderr, "  filtered frames:    %zu, mean %.3f ms, p95 %.3f ms\n",
                 st.filteredMs.size(), Mean(st.filteredMs), Percentile(st.filteredMs, 0.95));
  if (!opt.comparePath.empty()) {
    if (st.compared) {
      std::fprintf(stderr,
                   "  compare picture:    %s (frame %ld: input | output | 128 + 8 x diff)\n",
                   opt.comparePath.c_str(), opt.compareFrame);
    } else if (exit_code == kExitOk) {
      std::fprintf(stderr, "exthost: --compare-frame %ld is past the last frame (%ld)\n",
                   opt.compareFrame, st.framesIn);
      exit_code = kExitUsage;
    }
  }
  if (st.leakedRefs > 0)
    std::fprintf(stderr, "  warning: the filter kept %ld frame references it was given\n",
                 st.leakedRefs);
  return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  const int parsed = ParseArgs(argc, argv, &opt);
  if (parsed < 0) return kExitOk;
  if (parsed != kExitOk) return parsed;

  Input in;
  LogState log;
  int rc = OpenInput(opt, &in);
  if (rc == kExitOk) rc = OpenLog(opt, &log);
  if (rc != kExitOk) return rc;
  FILE* y4m_out = SeparateStdout(opt);
  Loaded loaded;
  PvcBackend pvc_backend;
  if ((rc = LoadPersonaIfAsked(opt)) != kExitOk || (rc = LoadFilter(opt, &loaded)) != kExitOk ||
      (rc = ApplyProperties(opt, &loaded, &pvc_backend)) != kExitOk) {
    return rc;
  }

  oxhost::Ref<oxhost::FilterControl> control = oxhost::FilterControl::Create();
  control->setLogSink(&OnFilterLog, &log);
  const std::string out_name = opt.output == "-" ? "(stdout)" : opt.output;
  y4m::Writer writer;
  std::string error;
  if (!opt.output.empty() && !writer.open(opt.output, in.header, &error, y4m_out)) {
    std::fprintf(stderr, "exthost: %s: %s\n", out_name.c_str(), error.c_str());
    loaded.unload();
    return kExitOutput;
  }

  loaded.filter->start(oxhost::Given<oxhost::FilterControl>(control.get()));
  RunStats stats;
  int exit_code = RunFrames(opt, &in, loaded.filter.get(), &writer, &stats);
  loaded.filter->stop();
  loaded.unload();
  if (!opt.output.empty() && !writer.close(&error) && exit_code == kExitOk) {
    std::fprintf(stderr, "exthost: %s: %s\n", out_name.c_str(), error.c_str());
    exit_code = kExitOutput;
  }
  CloseLog(&log);
  return PrintSummary(opt, in, loaded, pvc_backend, log, stats, exit_code);
}
