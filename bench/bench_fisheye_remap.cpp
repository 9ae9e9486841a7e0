// The fisheye pixel remap per frame at 1280x720 and 1920x1080, and beside it
// FFmpeg's lenscorrection filter on the same frames in the same run.
//
//   build/<dir>/bin/bench_fisheye_remap
//
// BM_FishRemap       processFrame of FishCorrectionVideoFilter with
//                    {"enable":1,"remap":1}: all three planes of a 4:2:0
//                    frame, map already built.
// BM_FishMapBuild    computing the maps after a parameter change.
// BM_FfmpegLensCorrection/W/H/threads
//                    ffmpeg -f rawvideo ... -vf lenscorrection=...:i=bilinear
//                    over kFfmpegFrames frames of the same picture, minus the
//                    same command with -vf null; time per frame.  threads 1
//                    runs the filter on one thread like the remap, 0 lets
//                    ffmpeg choose.  Skipped when ffmpeg is not on PATH.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fisheye/fish_correction_filter.h"

namespace {

constexpr int kFfmpegFrames = 60;

// One 4:2:0 picture: a grid with gradients, so no plane is flat.
std::vector<uint8_t> Picture(int w, int h) {
  const int cw = (w + 1) / 2, ch = (h + 1) / 2;
  std::vector<uint8_t> p(static_cast<size_t>(w) * h + 2 * static_cast<size_t>(cw) * ch);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      p[static_cast<size_t>(y) * w + x] =
          static_cast<uint8_t>(((x / 40 + y / 40) % 2 ? 180 : 60) + (x * 31 / w));
  uint8_t* cb = p.data() + static_cast<size_t>(w) * h;
  uint8_t* cr = cb + static_cast<size_t>(cw) * ch;
  for (int y = 0; y < ch; ++y)
    for (int x = 0; x < cw; ++x) {
      cb[static_cast<size_t>(y) * cw + x] = static_cast<uint8_t>(64 + 128 * x / cw);
      cr[static_cast<size_t>(y) * cw + x] = static_cast<uint8_t>(64 + 128 * y / ch);
    }
  return p;
}

class BenchFrame : public host::HostVideoFrame {
 public:
  BenchFrame(int w, int h) : w_(w), h_(h), data_(Picture(w, h)) {}
  void addRef() override {}
  int release() override { return 1; }
  void reserved2() override {}
  void reserved3() override {}
  int getFrameData(host::FrameDataRecord* r) override {
    const int cw = (w_ + 1) / 2, ch = (h_ + 1) / 2;
    r->luma = data_.data();
    r->cb = r->luma + static_cast<size_t>(w_) * h_;
    r->cr = r->cb + static_cast<size_t>(cw) * ch;
    r->lumaPitch = w_;
    r->chromaPitch = cw;
    r->chromaWidth = cw;
    r->chromaHeight = ch;
    r->width = w_;
    r->height = h_;
    return 0;
  }

 private:
  int w_, h_;
  std::vector<uint8_t> data_;
};

int SetRemap(fisheye::FishCorrectionVideoFilter& f, const std::string& json) {
  return f.setProperty("fishCorrection", json.c_str(), json.size());
}

void BM_FishRemap(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  fisheye::FishCorrectionVideoFilter f;
  f.start(host::ObjectRef<host::FilterControl>());
  SetRemap(f, R"({"enable":1,"remap":1})");
  BenchFrame frame(w, h);
  host::ObjectRef<host::HostVideoFrame> out;
  f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);  // builds the maps
  for (auto _ : state) {
    f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);
    benchmark::ClobberMemory();
  }
  if (f.corrector()->mapBuilds() != 1) state.SkipWithError("maps were rebuilt per frame");
  state.counters["Mpix/s"] =
      benchmark::Counter(static_cast<double>(w) * h, benchmark::Counter::kIsIterationInvariantRate,
                         benchmark::Counter::kIs1000);
}
BENCHMARK(BM_FishRemap)->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

void BM_FishMapBuild(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  fisheye::FishCorrectionVideoFilter f;
  f.start(host::ObjectRef<host::FilterControl>());
  BenchFrame frame(w, h);
  host::ObjectRef<host::HostVideoFrame> out;
  bool flip = false;
  for (auto _ : state) {
    // Alternate between two views so every frame needs new maps.
    flip = !flip;
    SetRemap(f, flip ? R"({"enable":1,"remap":1})" : R"({"enable":1,"remap":1,"scale_factor":4})");
    f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);
  }
}
BENCHMARK(BM_FishMapBuild)->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

// ---- FFmpeg lenscorrection on the same frames ----

bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

std::string WriteClip(int w, int h) {
  const std::string path = "/tmp/bench_fisheye_" + std::to_string(getpid()) + "_" +
                           std::to_string(w) + "x" + std::to_string(h) + ".yuv";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return std::string();
  const std::vector<uint8_t> pic = Picture(w, h);
  for (int i = 0; i < kFfmpegFrames; ++i) std::fwrite(pic.data(), 1, pic.size(), f);
  std::fclose(f);
  return path;
}

// Seconds one ffmpeg run takes, or a negative value when it fails.
double RunFfmpeg(const std::string& clip, int w, int h, int threads, const std::string& vf) {
  const std::string t = std::to_string(threads);
  const std::string cmd = "ffmpeg -nostdin -v error -threads " + t + " -filter_threads " + t +
                          " -f rawvideo -pix_fmt yuv420p -s " + std::to_string(w) + "x" +
                          std::to_string(h) + " -i " + clip + " -vf " + vf + " -f null - ";
  const auto t0 = std::chrono::steady_clock::now();
  const int rc = std::system(cmd.c_str());
  const auto t1 = std::chrono::steady_clock::now();
  if (rc != 0) return -1.0;
  return std::chrono::duration<double>(t1 - t0).count();
}

void BM_FfmpegLensCorrection(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const int threads = static_cast<int>(state.range(2));
  if (!HaveFfmpeg()) {
    state.SkipWithError("ffmpeg not found on PATH");
    return;
  }
  const std::string clip = WriteClip(w, h);
  if (clip.empty()) {
    state.SkipWithError("cannot write the clip");
    return;
  }
  const std::string lens = "lenscorrection=cx=0.49:cy=0.48:k1=-0.2:k2=-0.02:i=bilinear";
  double with_filter = 0, without = 0;
  for (auto _ : state) {
    const double a = RunFfmpeg(clip, w, h, threads, lens);
    const double b = RunFfmpeg(clip, w, h, threads, "null");
    if (a < 0 || b < 0) {
      state.SkipWithError("ffmpeg failed");
      break;
    }
    with_filter += a;
    without += b;
    state.SetIterationTime(std::max(a - b, 0.0) / kFfmpegFrames);
  }
  std::remove(clip.c_str());
  const double runs = static_cast<double>(state.iterations());
  if (runs > 0) {
    state.counters["whole_run_ms_per_frame"] = 1e3 * with_filter / runs / kFfmpegFrames;
    state.counters["null_run_ms_per_frame"] = 1e3 * without / runs / kFfmpegFrames;
  }
}
BENCHMARK(BM_FfmpegLensCorrection)
    ->Args({1280, 720, 1})
    ->Args({1920, 1080, 1})
    ->Args({1280, 720, 0})
    ->Args({1920, 1080, 0})
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
