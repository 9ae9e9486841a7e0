// Soak driver for the perceptual filter: loads libpercept_ext.so through the
// host stand-in the way exthost does, and runs a long schedule of frames
// whose size and model change every few hundred frames, with stops and
// starts (and now and then a new filter) in between.  It reports the
// results and level-4 texts seen, and the resident memory and live OpenCL
// objects (counted by the device persona) at the start and the end.
//
//   soak [--backend opencl|cpu] [--frames N] [--segment N] [--persona NAME] [--seed N] [--quiet]
//
// --backend opencl (the default) runs on the device persona's GPU.  With
// --backend cpu the filter runs on its CPU backend, each start alternating
// between 1 and 2 threads; no persona and no OpenCL library are loaded
// (an OpenCL library found loaded at the end gives status 2), and only the
// resident memory is judged (live OpenCL objects are not reported).
//
// Exit status: 0 clean; 1 bad command line; 2 a frame came back with a
// result or a level-4 text outside the allowed set, a frame was handed on
// half-written, or a frame reference was kept; 3 resident memory or live
// OpenCL objects grew; 4 the extension or the persona could not be loaded.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "hoststub/oxrin_host.h"
#include "platform/platform.h"
#include "tools/exthost/builtin_clip.h"
#include "tools/exthost/gpu_probe.h"
#include "tools/persona/persona_api.h"

namespace {

constexpr int kExitOk = 0, kExitUsage = 1, kExitStatus = 2, kExitGrowth = 3, kExitLoad = 4;

struct Size {
  int w, h;
};
// Landscape, portrait, square and odd sizes, all small enough for a CPU
// device to run thousands of frames.
const Size kSizes[] = {{64, 36}, {96, 54}, {160, 90}, {320, 180}, {36, 64}, {128, 128},
                       {98, 58}, {200, 113}, {63, 35}, {256, 144}};

// Level-4 texts a soak without injected faults may show: the start notice,
// set-up and warm-up of each start and each new geometry or model.
const char* const kAllowedLevel4[] = {"pvc: PVCVideoFilter start", "init PVC with async worker.",
                                      "PVC params changed, do warm up."};
// The CPU backend's set-up line begins with this (path and threads follow).
constexpr char kCpuSetUpLevel4[] = "pvc: JND on the CPU, path ";

constexpr char kUsage[] =
    "usage: soak [--backend opencl|cpu] [--frames N] [--segment N] [--persona NAME] [--seed N] "
    "[--quiet]\n";
constexpr char kOpenClLibrary[] = "libOpenCL.so.1";
constexpr char kCpuThreadStarts[] = "soak: CPU backend, %ld starts with 1 thread, %ld with 2\n";
constexpr char kCpuLoadedOpenCl[] = "soak: the CPU backend loaded %s\n";

constexpr int kSizeCount = sizeof kSizes / sizeof kSizes[0];

// Growth allowed between the baseline and the last measurement: allocator
// and driver caches settle; a leak of one 64-byte block per frame over
// 20,000 frames is 1.2 MB, well above this once the baseline is taken
// late enough.
constexpr long kRssSlackKb = 1024;

// Under AddressSanitizer freed memory waits in a quarantine (256 MB by
// default) before it is reused, so the resident size grows by design and
// says nothing about leaks; the sanitizer's own leak check judges them.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif
#else
constexpr bool kResidentSizeMeaningful = true;
#endif

long ResidentKb() {
  long pages = 0, resident = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return -1;
  if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
  std::fclose(f);
  return resident < 0 ? -1 : resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::string ExecutableDir() {
  const std::string path = platform::ExecutablePath();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

struct LogCounts {
  std::map<std::string, long> level4;
};

void OnLog(void* ctx, int level, const char* text) {
  if (level == 4) ++static_cast<LogCounts*>(ctx)->level4[text];
}

struct Options {
  bool cpu = false;
  long frames = 20000;
  long segment = 300;
  std::string persona = "nvidia";
  unsigned seed = 1;
  bool quiet = false;
};

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&](std::string* v) {
      if (i + 1 >= argc) return false;
      *v = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--backend" && next(&v) && (v == "opencl" || v == "cpu")) o->cpu = v == "cpu";
    else if (a == "--frames" && next(&v)) o->frames = std::atol(v.c_str());
    else if (a == "--segment" && next(&v)) o->segment = std::atol(v.c_str());
    else if (a == "--persona" && next(&v)) o->persona = v;
    else if (a == "--seed" && next(&v)) o->seed = static_cast<unsigned>(std::atol(v.c_str()));
    else if (a == "--quiet") o->quiet = true;
    else return false;
  }
  return o->frames > 0 && o->segment > 0;
}

// Small deterministic generator for the schedule.
struct Rng {
  unsigned s;
  unsigned next() {
    s = s * 1103515245u + 12345u;
    return (s >> 8) & 0xFFFFFF;
  }
};

// The filter under soak: created and started the same way every time.
struct Soaked {
  const Options* opt = nullptr;
  oxhost::LoadedExtension ext;
  std::string gpu;  // OpenCL: the GPU named in "DevicesId"
  oxhost::Ref<oxhost::FilterControl> control;
  oxhost::Ref<oxhost::VideoFilter> filter;
  long starts = 0;
  // Threads are taken at start: the CPU backend alternates 1 and 2.
  long threadStarts[2] = {0, 0};

  // A new filter with the backend's property; false when none came.
  bool create() {
    filter.reset();
    ext.provider->createVideoFilter(filter, "pvc");
    if (!filter) return false;
    const std::string v = opt->cpu ? "{\"Backend\":\"cpu\"}" : "{\"DevicesId\":\"" + gpu + "\"}";
    return filter->setProperty("pvc_parameter", v.c_str(), v.size() + 1) == 0;
  }
  void start() {
    if (opt->cpu) {
      const int threads = 1 + static_cast<int>(starts % 2);
      ++threadStarts[threads - 1];
      const std::string v = "{\"CpuThreads\":" + std::to_string(threads) + "}";
      filter->setProperty("pvc_parameter", v.c_str(), v.size() + 1);
    }
    filter->start(oxhost::Given<oxhost::FilterControl>(control.get()));
    ++starts;
  }
};

// What the frames came back as.
struct Tally {
  long results[3] = {0, 0, 0}, otherResults = 0, torn = 0, keptRefs = 0;
  long stops = 0, newFilters = 0, segments = 0, frames = 0;
};

// Resident memory and live OpenCL objects at the measurement points.
struct Measures {
  long firstAt = 0, baselineAt = 0;
  bool judgeMemory = false;
  long liveIdle = 0, rssFirst = -1, liveFirst = -1, rssBase = -1, liveBase = -1, rssPeak = 0;
  long rssLast = -1, liveLast = 0, liveStopped = 0, liveGone = 0;
};

// Loads the device persona (OpenCL only) and answers its live-object
// counter; on the CPU no OpenCL object can exist and the count stays 0.
int LoadPersonaCounter(const Options& opt, const std::string& persona_path,
                       persona_counter_fn* live_objects) {
  *live_objects = [] { return 0L; };
  if (opt.cpu) return kExitOk;
  std::string error;
  if (!exthost::LoadPersona(opt.persona, persona_path, &error)) {
    std::fprintf(stderr, "soak: %s\n", error.c_str());
    return kExitLoad;
  }
  platform::LibHandle persona = platform::LoadedLibrary(persona_path.c_str());
  *live_objects = reinterpret_cast<persona_counter_fn>(
      persona ? platform::FindSymbol(persona, "persona_live_objects") : nullptr);
  if (*live_objects == nullptr) {
    std::fprintf(stderr, "soak: the persona library has no object counter\n");
    return kExitLoad;
  }
  return kExitOk;
}

// Loads the extension, finds the GPU (OpenCL) and creates the first filter.
int LoadFilter(const std::string& dir, Soaked* s) {
  std::string error;
  const std::string path = dir + "/../lib/" + platform::SharedLibraryFileName("percept_ext");
  if (!oxhost::LoadExtension(path, &s->ext, &error, /*keep_mapped=*/true)) {
    std::fprintf(stderr, "soak: %s\n", error.c_str());
    return kExitLoad;
  }
  s->ext.provider->setExtensionControl(oxhost::Host::instance().control());
  if (!s->opt->cpu) {
    std::string why;
    s->gpu = exthost::FirstOpenClGpuName(&why);
    if (s->gpu.empty()) {
      std::fprintf(stderr, "soak: no OpenCL GPU: %s\n", why.c_str());
      return kExitLoad;
    }
  }
  if (!s->create()) {
    std::fprintf(stderr, "soak: the provider did not create the filter \"pvc\"\n");
    return kExitLoad;
  }
  return kExitOk;
}

// Feeds one generated frame and checks what came back.
void FeedFrame(Soaked* s, Size size, long frame, std::vector<uint8_t>* picture, Tally* t) {
  oxhost::Ref<oxhost::VideoFrame> in = oxhost::VideoFrame::Create(size.w, size.h);
  exthost::RenderClipFrame(static_cast<int>(frame % exthost::kClipFrames), size.w, size.h, picture);
  std::memcpy(in->data(), picture->data(), in->size());
  oxhost::Ref<oxhost::VideoFrame> out;
  const int r = s->filter->processFrame(oxhost::Given<oxhost::VideoFrame>(in.get()), out);
  if (r >= 0 && r <= 2) ++t->results[r];
  else ++t->otherResults;
  const size_t luma_bytes = static_cast<size_t>(size.w) * size.h;
  const bool same = std::memcmp(in->luma(), picture->data(), luma_bytes) == 0;
  // Filtered frames come back as the input frame; others untouched.
  if ((r == 0 && out.get() != in.get()) || (r != 0 && (!same || out))) ++t->torn;
  const size_t chroma_bytes = in->size() - luma_bytes;
  if (std::memcmp(in->data() + luma_bytes, picture->data() + luma_bytes, chroma_bytes) != 0)
    ++t->torn;
  out.reset();
  if (in->refCount() != 1) ++t->keptRefs;
}

// At a segment boundary: a new size and model, and now and then a stop
// and start or a new filter.
void NextSegment(Soaked* s, Rng* rng, Size* size, Tally* t) {
  ++t->segments;
  const unsigned pick = rng->next() % kSizeCount;
  *size = kSizes[t->segments < kSizeCount ? t->segments : pick];
  const int model = 1 + static_cast<int>(rng->next() % 4);
  const std::string v = "{\"pvc_one_model\":" + std::to_string(model) + "}";
  s->filter->setProperty("pvc_parameter", v.c_str(), v.size() + 1);
  const unsigned what = rng->next() % 6;
  if (what == 0) {
    s->filter->stop();
    ++t->stops;
    s->start();
  } else if (what == 1) {
    s->filter->stop();
    ++t->stops;
    s->create();
    ++t->newFilters;
    s->filter->setProperty("pvc_parameter", v.c_str(), v.size() + 1);
    s->start();
  }
}

// The schedule: opt.frames frames in segments of opt.segment, measured at
// the first and baseline points.
void RunSchedule(const Options& opt, Soaked* s, persona_counter_fn live_objects, Tally* t,
                 Measures* m) {
  Rng rng{opt.seed};
  std::vector<uint8_t> picture;
  Size size = kSizes[0];
  s->start();
  while (t->frames < opt.frames) {
    if (t->frames % opt.segment == 0 && t->frames > 0) NextSegment(s, &rng, &size, t);
    // The measurement points fall on the same kind of frame: a filtered
    // one in the middle of a segment of the first size.
    FeedFrame(s, size, t->frames, &picture, t);
    // The stand-in keeps every log line of its control; the level-4 texts
    // have been counted, and the record is the host's, not the filter's.
    s->control->clear();
    const long frame = ++t->frames;
    const long rss = ResidentKb();
    if (rss > m->rssPeak) m->rssPeak = rss;
    if (frame == m->firstAt) {
      m->rssFirst = rss;
      m->liveFirst = live_objects();
    }
    if (frame == m->baselineAt) {
      m->rssBase = rss;
      m->liveBase = live_objects();
    }
    if (!opt.quiet && frame % 1000 == 0)
      std::fprintf(stderr, "soak: %ld frames, RSS %ld kB, live OpenCL objects %ld\n", frame, rss,
                   live_objects());
  }
}

// The last measurement: after a return to the first size and model and a
// few frames of it, the same state as the baseline; then stop and release.
void MeasureEnd(Soaked* s, persona_counter_fn live_objects, Tally* t, Measures* m) {
  s->filter->setProperty("pvc_parameter", "{\"pvc_one_model\":3}", 20);
  const Size size = kSizes[0];
  for (int i = 0; i < 4; ++i) {
    oxhost::Ref<oxhost::VideoFrame> in = oxhost::VideoFrame::Create(size.w, size.h);
    oxhost::Ref<oxhost::VideoFrame> out;
    s->filter->processFrame(oxhost::Given<oxhost::VideoFrame>(in.get()), out);
  }
  m->rssLast = ResidentKb();
  m->liveLast = live_objects();
  s->filter->stop();
  ++t->stops;
  m->liveStopped = live_objects();
  s->filter.reset();
  m->liveGone = live_objects();
}

// Prints the report; answers whether every result, level-4 text and frame
// was as allowed.
bool ReportStatus(const Options& opt, const Soaked& s, const LogCounts& logs, const Tally& t,
                  const Measures& m) {
  std::fprintf(stderr, "soak: %ld frames in %ld segments; %ld starts, %ld stops, %ld new filters\n",
               t.frames, t.segments + 1, s.starts, t.stops, t.newFilters);
  std::fprintf(stderr, "soak: results 0 (filtered) %ld, 1 (passed on) %ld, 2 %ld, other %ld\n",
               t.results[0], t.results[1], t.results[2], t.otherResults);
  if (opt.cpu) std::fprintf(stderr, kCpuThreadStarts, s.threadStarts[0], s.threadStarts[1]);
  // A soak that filtered nothing has not exercised the filter.
  bool status_ok = t.results[0] > 0 && t.otherResults == 0 && t.results[2] == 0 && t.torn == 0 &&
                  t.keptRefs == 0;
  if (opt.cpu) {
    if (platform::LibHandle cl = platform::LoadedLibrary(kOpenClLibrary)) {
      platform::CloseLibrary(cl);
      std::fprintf(stderr, kCpuLoadedOpenCl, kOpenClLibrary);
      status_ok = false;
    }
  }
  for (const auto& kv : logs.level4) {
    bool allowed = opt.cpu && kv.first.rfind(kCpuSetUpLevel4, 0) == 0;
    for (const char* a : kAllowedLevel4) allowed |= kv.first == a;
    status_ok &= allowed;
    std::fprintf(stderr, "soak: level 4 %-40s %ld%s\n", ("\"" + kv.first + "\"").c_str(), kv.second,
                 allowed ? "" : "  (not allowed)");
  }
  std::fprintf(stderr, "soak: frames handed on half-written %ld, frame references kept %ld\n",
               t.torn, t.keptRefs);
  std::fprintf(stderr,
               "soak: RSS %ld kB after %ld frames, %ld kB after %ld frames (baseline), %ld kB at "
               "the end (peak %ld kB)\n",
               m.rssFirst, m.firstAt, m.rssBase, m.baselineAt, m.rssLast, m.rssPeak);
  if (!opt.cpu) {
    std::fprintf(stderr,
                 "soak: live OpenCL objects %ld before start, %ld after %ld frames, %ld after %ld "
                 "frames, %ld at the end, %ld after stop, %ld with the filter gone\n",
                 m.liveIdle, m.liveFirst, m.firstAt, m.liveBase, m.baselineAt, m.liveLast,
                 m.liveStopped, m.liveGone);
  }
  if (!kResidentSizeMeaningful)
    std::fprintf(stderr, "soak: memory growth not judged under AddressSanitizer (its quarantine holds freed memory)\n");
  else if (!m.judgeMemory)
    std::fprintf(stderr, "soak: too short to judge memory growth (every size once first)\n");
  return status_ok;
}

bool Grew(const Measures& m) {
  return m.liveLast != m.liveFirst || m.liveBase != m.liveFirst || m.liveStopped != m.liveIdle ||
         m.liveGone != m.liveIdle || (m.judgeMemory && m.rssLast > m.rssBase + kRssSlackKb);
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (!ParseOptions(argc, argv, &opt)) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  // The filter's progress lines go to standard output; keep them out.
  std::fflush(stdout);
  if (FILE* null = std::fopen(platform::NullDevicePath(), "w")) {
    dup2(fileno(null), STDOUT_FILENO);
    std::fclose(null);
  }

  const std::string dir = ExecutableDir();
  persona_counter_fn live_objects = nullptr;
  Soaked soaked;
  soaked.opt = &opt;
  int rc = LoadPersonaCounter(opt, dir + "/../persona/libOpenCL.so.1", &live_objects);
  if (rc == kExitOk) rc = LoadFilter(dir, &soaked);
  if (rc != kExitOk) return rc;
  LogCounts logs;
  soaked.control = oxhost::FilterControl::Create();
  soaked.control->setLogSink(&OnLog, &logs);

  Measures m;
  // The first measurement is taken once the first segment filters, so
  // set-up and warm-up of the pipeline count as the start.  The first
  // segments go through every size once; the OpenCL driver keeps code
  // specialised for each geometry it has seen, so the baseline for growth
  // is taken in the middle of the segment after them.  A run too short for
  // that checks objects only, not memory.
  m.firstAt = opt.segment / 2;
  m.baselineAt = kSizeCount * opt.segment + opt.segment / 2;
  m.judgeMemory = kResidentSizeMeaningful && m.baselineAt < opt.frames;
  if (!m.judgeMemory) m.baselineAt = m.firstAt;
  m.liveIdle = live_objects();

  Tally t;
  RunSchedule(opt, &soaked, live_objects, &t, &m);
  MeasureEnd(&soaked, live_objects, &t, &m);
  const bool status_ok = ReportStatus(opt, soaked, logs, t, m);
  oxhost::UnloadExtension(&soaked.ext);
  if (!status_ok) return kExitStatus;
  return Grew(m) ? kExitGrowth : kExitOk;
}
