// The JND network on the CPU, on the same frames as bench_jnd:
//   BM_JndCpuFilter/PATH/threads:T/w:W/h:H
//                       the CPU filter (jnd::JndFilterCpu, 16-bit fixed
//                       point, row bands over T threads) on each
//                       instruction-set path this processor runs, on one
//                       thread and on every hardware thread.  CPU time is
//                       the whole process's (all threads).
//   BM_JndCpuPlain      float arithmetic over edge-padded planes, 8-bit
//                       intermediates (round(activation x 127.5)), as a
//                       careful programmer would write it without SIMD
//                       intrinsics or threads (the compiler may vectorise):
//                       the single-thread baseline.
//   BM_JndCpuReference  the test suite's reference evaluation (double
//                       precision, clamped reads per tap): the slow,
//                       obviously-right version.
// The plain version is written from the network's description and shares
// nothing with the filter or the kernels.
//
// Before timing, the plain version and every path of the CPU filter (one
// thread and all) are checked against the reference on small frames: a
// difference above one level (plain) or three levels (CPU filter) stops
// the program before any benchmark runs.  Counters: fps, GFLOPs (432 per
// pixel), GMACs (216 multiply-adds per pixel); bench/summarise.py reads
// the multiply-add rates against bench_fma_peak's peaks of the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "jnd/jnd_filter_cpu.h"
#include "jnd/jnd_weights.h"
#include "tests/jnd/jnd_reference.h"

namespace {

constexpr double kMacsPerPixel = 216.0;

// Copies a w x h plane of `ch` interleaved channels into a (w+2) x (h+2)
// plane whose one-pixel border repeats the nearest edge pixel.
template <typename T>
void PadClamp(const T* src, int w, int h, int ch, std::vector<T>* dst) {
  const int pw = w + 2;
  dst->resize(static_cast<size_t>(pw) * (h + 2) * ch);
  for (int y = -1; y <= h; ++y) {
    const int sy = std::min(std::max(y, 0), h - 1);
    T* out = dst->data() + static_cast<size_t>(y + 1) * pw * ch;
    const T* in = src + static_cast<size_t>(sy) * w * ch;
    for (int x = -1; x <= w; ++x) {
      const int sx = std::min(std::max(x, 0), w - 1);
      for (int c = 0; c < ch; ++c) out[(x + 1) * ch + c] = in[sx * ch + c];
    }
  }
}

// round-half-even(activation x 127.5) saturated to a byte; negatives are 0.
inline uint8_t Quantise(float a) {
  const float v = std::nearbyint(std::max(a, 0.0f) * 127.5f);
  return static_cast<uint8_t>(v > 255.0f ? 255.0f : v);
}

class PlainJnd {
 public:
  explicit PlainJnd(const jnd::JndWeightSetData& s) {
    // Stored [oc][ic][ky][kx] regrouped as [ky][kx][ic][oc] so that the four
    // output channels of one tap sit together.
    for (int oc = 0; oc < 4; ++oc) {
      for (int t = 0; t < 9; ++t) w1_[t][oc] = s.conv1Weights[oc * 9 + t];
      for (int ic = 0; ic < 4; ++ic)
        for (int t = 0; t < 9; ++t) w2_[t][ic][oc] = s.conv2Weights[(oc * 4 + ic) * 9 + t];
      b1_[oc] = s.conv1Bias[oc];
      b2_[oc] = s.conv2Bias[oc];
    }
    for (int ic = 0; ic < 4; ++ic)
      for (int t = 0; t < 9; ++t) w3_[t][ic] = s.conv3Weights[ic * 9 + t];
    b3_ = s.conv3Bias[0];
  }

  void Run(const uint8_t* in, uint8_t* out, int w, int h) {
    const int pw = w + 2;
    const size_t pixels = static_cast<size_t>(w) * h;
    a1_.resize(pixels * 4);
    a2_.resize(pixels * 4);

    // conv1: 1 -> 4 channels, input byte / 255.
    PadClamp(in, w, h, 1, &pad0_);
    for (int y = 0; y < h; ++y) {
      uint8_t* dst = a1_.data() + static_cast<size_t>(y) * w * 4;
      for (int x = 0; x < w; ++x) {
        float acc[4] = {b1_[0], b1_[1], b1_[2], b1_[3]};
        for (int ky = 0; ky < 3; ++ky) {
          const uint8_t* row = pad0_.data() + static_cast<size_t>(y + ky) * pw + x;
          for (int kx = 0; kx < 3; ++kx) {
            const float v = row[kx] * (1.0f / 255.0f);
            for (int oc = 0; oc < 4; ++oc) acc[oc] += w1_[ky * 3 + kx][oc] * v;
          }
        }
        for (int oc = 0; oc < 4; ++oc) dst[x * 4 + oc] = Quantise(acc[oc]);
      }
    }

    // conv2: 4 -> 4 channels, intermediate byte / 127.5.
    PadClamp(a1_.data(), w, h, 4, &pad1_);
    for (int y = 0; y < h; ++y) {
      uint8_t* dst = a2_.data() + static_cast<size_t>(y) * w * 4;
      for (int x = 0; x < w; ++x) {
        float acc[4] = {0, 0, 0, 0};
        for (int ky = 0; ky < 3; ++ky) {
          const uint8_t* row = pad1_.data() + (static_cast<size_t>(y + ky) * pw + x) * 4;
          for (int kx = 0; kx < 3; ++kx)
            for (int ic = 0; ic < 4; ++ic) {
              const float v = row[kx * 4 + ic];
              for (int oc = 0; oc < 4; ++oc) acc[oc] += w2_[ky * 3 + kx][ic][oc] * v;
            }
        }
        for (int oc = 0; oc < 4; ++oc)
          dst[x * 4 + oc] = Quantise(acc[oc] * (1.0f / 127.5f) + b2_[oc]);
      }
    }

    // conv3: 4 -> 1 channel, output round-half-even(v x 255) saturated.
    PadClamp(a2_.data(), w, h, 4, &pad2_);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        float acc = 0;
        for (int ky = 0; ky < 3; ++ky) {
          const uint8_t* row = pad2_.data() + (static_cast<size_t>(y + ky) * pw + x) * 4;
          for (int kx = 0; kx < 3; ++kx)
            for (int ic = 0; ic < 4; ++ic) acc += w3_[ky * 3 + kx][ic] * row[kx * 4 + ic];
        }
        const float v = std::nearbyint((acc * (1.0f / 127.5f) + b3_) * 255.0f);
        out[static_cast<size_t>(y) * w + x] =
            static_cast<uint8_t>(v < 0.0f ? 0.0f : (v > 255.0f ? 255.0f : v));
      }
    }
  }

 private:
  float w1_[9][4], b1_[4], w2_[9][4][4], b2_[4], w3_[9][4], b3_;
  std::vector<uint8_t> pad0_, pad1_, pad2_, a1_, a2_;
};

std::vector<uint8_t> Frame(int w, int h) {
  std::vector<uint8_t> plane(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < plane.size(); ++i) plane[i] = static_cast<uint8_t>((i * 37) ^ (i >> 7));
  return plane;
}

int MaxDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

// Largest byte difference between the plain version and the reference on
// a small frame of the benchmark's pattern.
int PlainWorst() {
  const int w = 64, h = 48;
  const std::vector<uint8_t> in = Frame(w, h);
  std::vector<uint8_t> out(in.size());
  PlainJnd(jnd::kJndWeightSet3).Run(in.data(), out.data(), w, h);
  return MaxDiff(out, testref::Filter(testref::FromSet(jnd::kJndWeightSet3), in, w, h));
}

// Thread counts the CPU filter is timed with: one, and every hardware
// thread (within the filter's limit).
std::vector<int> ThreadCounts() {
  const int all = std::min(std::max(static_cast<int>(std::thread::hardware_concurrency()), 1),
                           jnd::kJndCpuMaxThreads);
  return all > 1 ? std::vector<int>{1, all} : std::vector<int>{1};
}

// Largest difference from the reference per "path/threads", as checked.
std::map<std::string, int>& CheckedWorst() {
  static std::map<std::string, int> worst;
  return worst;
}

// Checks every runnable path of the CPU filter, on each thread count,
// against the reference on small frames (one of them with a width that is
// no multiple of any vector width).  Prints one line per path and returns
// false, with the reason, when a filter fails or differs by more than
// three levels anywhere.
bool CpuFilterMatchesReference() {
  const testref::Net net = testref::FromSet(jnd::kJndWeightSet3);
  const int sizes[][2] = {{64, 48}, {77, 41}};
  std::vector<std::vector<uint8_t>> refs;
  for (const auto& s : sizes) refs.push_back(testref::Filter(net, Frame(s[0], s[1]), s[0], s[1]));
  bool ok = true;
  for (const jnd::JndCpuKernels* path : jnd::JndCpuPaths()) {
    for (int threads : ThreadCounts()) {
      int worst = 0;
      for (size_t k = 0; k < refs.size(); ++k) {
        const int w = sizes[k][0], h = sizes[k][1];
        const std::vector<uint8_t> in = Frame(w, h);
        std::vector<uint8_t> out(in.size());
        jnd::JndFilterCpu filter;
        if (!filter.initialise(jnd::WeightsOf(jnd::kJndWeightSet3), threads, path) ||
            !filter.process(in.data(), out.data(), w, h, w, true)) {
          std::fprintf(stderr, "bench_jnd_cpu: CPU filter, path %s, %d thread(s), %dx%d failed: %s\n",
                       path->name, threads, w, h, filter.errorText().c_str());
          ok = false;
          worst = -1;
          break;
        }
        worst = std::max(worst, MaxDiff(out, refs[k]));
      }
      if (worst < 0) continue;
      std::fprintf(stderr, "bench_jnd_cpu: CPU filter, path %s, %d thread%s: largest difference "
                   "from the reference %d (at most 3 allowed)\n", path->name, threads,
                   threads == 1 ? "" : "s", worst);
      CheckedWorst()[std::string(path->name) + "/" + std::to_string(threads)] = worst;
      if (worst > 3) ok = false;
    }
  }
  return ok;
}

void Counters(benchmark::State& state, int w, int h) {
  const double frames = static_cast<double>(state.iterations());
  state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.counters["GFLOPs"] =
      benchmark::Counter(frames * w * h * kMacsPerPixel * 2.0 / 1e9, benchmark::Counter::kIsRate);
  state.counters["GMACs"] =
      benchmark::Counter(frames * w * h * kMacsPerPixel / 1e9, benchmark::Counter::kIsRate);
}

// One frame through the CPU filter per iteration, source and destination
// apart, after a first frame that sets up the geometry.
void BM_JndCpuFilter(benchmark::State& state, const jnd::JndCpuKernels* path, int threads, int w,
                     int h) {
  jnd::JndFilterCpu filter;
  if (!filter.initialise(jnd::WeightsOf(jnd::kJndWeightSet3), threads, path))
    return state.SkipWithError(filter.errorText().c_str());
  const std::vector<uint8_t> in = Frame(w, h);
  std::vector<uint8_t> out(in.size());
  if (!filter.process(in.data(), out.data(), w, h, w, true))
    return state.SkipWithError(filter.errorText().c_str());
  for (auto _ : state) {
    if (!filter.process(in.data(), out.data(), w, h, w, true))
      return state.SkipWithError(filter.errorText().c_str());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  Counters(state, w, h);
  state.counters["threads"] = filter.threads();
  state.counters["max_diff_vs_ref"] =
      CheckedWorst()[std::string(path->name) + "/" + std::to_string(threads)];
  state.SetLabel(std::string(path->name) + ", " + std::to_string(filter.threads()) +
                 (filter.threads() == 1 ? " thread" : " threads"));
}

// Sizes outermost, so that the paths and thread counts of one size run
// next to each other (with --benchmark_enable_random_interleaving the
// repetitions of all of them are shuffled as well).
void RegisterCpuFilter() {
  const int sizes[][2] = {{640, 360}, {1280, 720}, {720, 1280}, {1920, 1080}};
  for (const auto& s : sizes)
    for (const jnd::JndCpuKernels* path : jnd::JndCpuPaths())
      for (int threads : ThreadCounts()) {
        const std::string name = std::string("BM_JndCpuFilter/") + path->name + "/threads:" +
                                 std::to_string(threads) + "/w:" + std::to_string(s[0]) +
                                 "/h:" + std::to_string(s[1]);
        benchmark::RegisterBenchmark(name.c_str(), BM_JndCpuFilter, path, threads, s[0], s[1])
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime()
            ->UseRealTime();
      }
}

void BM_JndCpuPlain(benchmark::State& state) {
  static const int worst = PlainWorst();
  if (worst > 1) return state.SkipWithError("plain evaluation disagrees with the reference");
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const std::vector<uint8_t> in = Frame(w, h);
  std::vector<uint8_t> out(in.size());
  PlainJnd net(jnd::kJndWeightSet3);
  for (auto _ : state) {
    net.Run(in.data(), out.data(), w, h);
    benchmark::DoNotOptimize(out.data());
  }
  Counters(state, w, h);
  state.counters["max_diff_vs_ref"] = worst;
  state.SetLabel("1 thread");
}
BENCHMARK(BM_JndCpuPlain)
    ->ArgNames({"w", "h"})
    ->Args({640, 360})
    ->Args({1280, 720})
    ->Args({720, 1280})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_JndCpuReference(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const std::vector<uint8_t> in = Frame(w, h);
  const testref::Net net = testref::FromSet(jnd::kJndWeightSet3);
  for (auto _ : state) {
    std::vector<uint8_t> out = testref::Filter(net, in, w, h);
    benchmark::DoNotOptimize(out.data());
  }
  Counters(state, w, h);
  state.SetLabel("1 thread, test reference");
}
BENCHMARK(BM_JndCpuReference)
    ->ArgNames({"w", "h"})
    ->Args({1280, 720})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const int plain = PlainWorst();
  if (plain > 1) {
    std::fprintf(stderr, "bench_jnd_cpu: the plain evaluation differs from the reference by %d "
                 "levels (at most 1 allowed); nothing timed\n", plain);
    return 1;
  }
  if (!CpuFilterMatchesReference()) {
    std::fprintf(stderr, "bench_jnd_cpu: the CPU filter disagrees with the reference; nothing timed\n");
    return 1;
  }
  RegisterCpuFilter();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
