// Host <-> device transfer rates for one 1280x720 8-bit luma plane, the
// per-frame traffic of the perceptual filter: buffer and image paths, with
// and without mapping.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "opencl/cl_engine.h"
#include "opencl/cl_memory.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr size_t kPlaneBytes = static_cast<size_t>(kWidth) * kHeight;

// One engine for the whole run: any GPU first, else a CPU device.
opencl::clEngine* Engine() {
  static opencl::clEngine* engine = [] {
    auto* e = new opencl::clEngine();
    if (e->Init(0, false, false)) return e;
    for (int code : {opencl::kVendorIntelCpu, opencl::kVendorAmdCpu}) {
      if (e->Init(code, false, false)) return e;
    }
    std::printf("no OpenCL device: %s\n", e->lastError.c_str());
    return e;
  }();
  return engine;
}

std::vector<unsigned char> Plane() {
  std::vector<unsigned char> p(kPlaneBytes);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<unsigned char>(i * 7);
  return p;
}

// Rate counters read "GB=<n>/s": gigabytes (10^9 bytes) per second.
void Report(benchmark::State& state) {
  const double bytes = static_cast<double>(state.iterations()) * kPlaneBytes;
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["GB"] = benchmark::Counter(bytes / 1e9, benchmark::Counter::kIsRate);
}

void BM_BufferUpload(benchmark::State& state) {
  opencl::clEngine* engine = Engine();
  if (!engine->initialized) return state.SkipWithError("no OpenCL device");
  const bool useMap = state.range(0) != 0;
  opencl::ClMemory mem(engine);
  if (!mem.CreateBuffer(kPlaneBytes, CL_MEM_READ_WRITE)) return state.SkipWithError("buffer");
  const std::vector<unsigned char> plane = Plane();
  for (auto _ : state) {
    if (!mem.Write(plane.data(), kPlaneBytes, useMap, true)) return state.SkipWithError("write");
  }
  Report(state);
}
BENCHMARK(BM_BufferUpload)->ArgName("map")->Arg(0)->Arg(1)->UseRealTime();

void BM_BufferReadBack(benchmark::State& state) {
  opencl::clEngine* engine = Engine();
  if (!engine->initialized) return state.SkipWithError("no OpenCL device");
  const bool useMap = state.range(0) != 0;
  opencl::ClMemory mem(engine);
  if (!mem.CreateBuffer(kPlaneBytes, CL_MEM_READ_WRITE)) return state.SkipWithError("buffer");
  std::vector<unsigned char> plane(kPlaneBytes);
  for (auto _ : state) {
    if (!mem.Read(plane.data(), kPlaneBytes, useMap, true)) return state.SkipWithError("read");
    benchmark::DoNotOptimize(plane.data());
  }
  Report(state);
}
BENCHMARK(BM_BufferReadBack)->ArgName("map")->Arg(0)->Arg(1)->UseRealTime();

void BM_ImageUpload(benchmark::State& state) {
  opencl::clEngine* engine = Engine();
  if (!engine->initialized) return state.SkipWithError("no OpenCL device");
  const bool useMap = state.range(0) != 0;
  opencl::ClMemory mem(engine);
  if (!mem.CreateImage(kWidth, kHeight, CL_UNORM_INT8, CL_R, CL_MEM_READ_WRITE)) {
    return state.SkipWithError("image");
  }
  const std::vector<unsigned char> plane = Plane();
  for (auto _ : state) {
    if (!mem.WriteImage(plane.data(), CL_UNORM_INT8, kWidth, useMap, true)) {
      return state.SkipWithError("write");
    }
  }
  Report(state);
}
BENCHMARK(BM_ImageUpload)->ArgName("map")->Arg(0)->Arg(1)->UseRealTime();

void BM_ImageReadBack(benchmark::State& state) {
  opencl::clEngine* engine = Engine();
  if (!engine->initialized) return state.SkipWithError("no OpenCL device");
  const bool useMap = state.range(0) != 0;
  opencl::ClMemory mem(engine);
  if (!mem.CreateImage(kWidth, kHeight, CL_UNORM_INT8, CL_R, CL_MEM_READ_WRITE)) {
    return state.SkipWithError("image");
  }
  std::vector<unsigned char> plane(kPlaneBytes);
  for (auto _ : state) {
    if (!mem.ReadImage(plane.data(), useMap, true)) return state.SkipWithError("read");
    benchmark::DoNotOptimize(plane.data());
  }
  Report(state);
}
BENCHMARK(BM_ImageReadBack)->ArgName("map")->Arg(0)->Arg(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
