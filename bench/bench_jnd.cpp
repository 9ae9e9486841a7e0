// One luma frame through the JND filter on this machine's OpenCL device:
// time per frame, frames per second, achieved GFLOP/s (216 multiply-adds
// per pixel) and the three kernels' own times from the queue's profile.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "jnd/jnd_filter.h"
#include "jnd/kernel_group_cfg.h"
#include "opencl/cl_engine.h"

namespace {

constexpr double kMacsPerPixel = 216.0;

// The filter prints progress and, in profiling mode, one line per kernel
// and frame; keep that out of the benchmark table.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }

 private:
  int saved_;
};

// Optional external work-size row, in the form the tuning mode prints, from
// the environment variable JND_BENCH_ROW: measures a row before it goes
// into the tables.  The device name in the row must be this device's.
std::vector<jnd::KernelGroupCfg> ExternalRows() {
  static std::vector<std::string> labels;
  const char* text = std::getenv("JND_BENCH_ROW");
  jnd::KernelGroupCfg row;
  if (text == nullptr || !jnd::ParseKernelGroupRow(text, &row, &labels)) return {};
  return {row};
}

// A GPU when there is one, else the CPU device.
jnd::JndFilterCL* Filter() {
  static std::unique_ptr<jnd::JndFilterCL> filter = [] {
    QuietStdout quiet;
    for (int kind : {0, static_cast<int>(opencl::kVendorIntelCpu), static_cast<int>(opencl::kVendorAmdCpu)}) {
      std::unique_ptr<jnd::JndFilterCL> f(new jnd::JndFilterCL());
      if (f->initialise(jnd::WeightsOf(jnd::kJndWeightSet3), "", 1, kind, ExternalRows(), true))
        return f;
    }
    return std::unique_ptr<jnd::JndFilterCL>();
  }();
  return filter.get();
}

// CPU time of the whole process (every OpenCL worker thread included), in
// ms: on a CPU device this is the work a frame costs, which stays readable
// when other programs share the cores and stretch the wall time.
double ProcessCpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

void BM_JndFrame(benchmark::State& state) {
  jnd::JndFilterCL* filter = Filter();
  if (filter == nullptr) return state.SkipWithError("no OpenCL device");
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  std::vector<uint8_t> plane(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < plane.size(); ++i) plane[i] = static_cast<uint8_t>((i * 37) ^ (i >> 7));
  double kernel_ns[3] = {0, 0, 0};
  double wall_ns = 0;
  double cpu_ms = 0;
  {
    QuietStdout quiet;
    filter->process(plane.data(), plane.data(), w, h, w, true);  // geometry set-up
    const double cpu_start = ProcessCpuMs();
    for (auto _ : state) {
      const auto t0 = std::chrono::steady_clock::now();
      if (!filter->process(plane.data(), plane.data(), w, h, w, true))
        return state.SkipWithError("filter failed");
      wall_ns += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
      for (int k = 0; k < 3; ++k)
        kernel_ns[k] += static_cast<double>(filter->kernel(k).endNs - filter->kernel(k).startNs);
    }
    cpu_ms = ProcessCpuMs() - cpu_start;
  }
  const double frames = static_cast<double>(state.iterations());
  state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.counters["GFLOPs"] =
      benchmark::Counter(frames * w * h * kMacsPerPixel * 2.0 / 1e9, benchmark::Counter::kIsRate);
  for (int k = 0; k < 3; ++k)
    state.counters["conv" + std::to_string(k + 1) + "_ms"] = kernel_ns[k] / frames / 1e6;
  // Upload, read-back and launch overhead: the wall time the kernels'
  // own profile does not cover.
  state.counters["other_ms"] = (wall_ns - kernel_ns[0] - kernel_ns[1] - kernel_ns[2]) / frames / 1e6;
  state.counters["cpu_ms"] = cpu_ms / frames;
  std::string label = filter->engine().deviceName + ", local";
  for (int k = 0; k < 3; ++k)
    label += " " + std::to_string(filter->kernel(k).local[0]) + "x" +
             std::to_string(filter->kernel(k).local[1]);
  state.SetLabel(label);
}
BENCHMARK(BM_JndFrame)
    ->ArgNames({"w", "h"})
    ->Args({640, 360})
    ->Args({1280, 720})
    ->Args({720, 1280})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
