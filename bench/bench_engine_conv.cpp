// The engine's 3x3 convolution (stride 1, pad 1) on 64x64x32 -> 32 and
// 128x128x16 -> 16 tensors: simd::Conv on each CPU path the processor runs
// (plain, wide128, avx2, avx512; one thread), and cl::Conv's kernel on the
// OpenCL device (a GPU when there is one, else the CPU device; kernel time
// from OpenCL profiling, without transfers), in GFLOP/s (2 x weight
// elements x output pixels per run; the CPU paths per second of CPU
// time).  Read the CPU figures beside bench_fma_peak's
// single-core number (bench/summarise.py does).
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "engine/cl/base.h"
#include "engine/layer.h"
#include "engine/registry.h"
#include "engine/simd/conv_kernels.h"
#include "opencl/cl_engine.h"
#include "tools/netrun/engine_program.h"

namespace {

// A 3x3 convolution c -> c on an h x w input with random values.
struct ConvSetup {
  engine::TensorMap tensors;
  engine::WeightMap weights;
  engine::Layer* layer = nullptr;
  ~ConvSetup() { delete layer; }
};

void MakeConv(ConvSetup* s, int h, int w, int c) {
  engine::TensorMap& tensors = s->tensors;
  engine::WeightMap& weights = s->weights;
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> d(-1.f, 1.f);
  engine::Tensor& x = tensors["x"];
  x.name = "x";
  x.set_shape(1, h, w, c);
  float* xv = x.ensure_host();
  for (size_t i = 0; i < x.elements(); ++i) xv[i] = d(rng);
  engine::Tensor& wt = weights["w"];
  wt.name = "w";
  wt.set_shape(c, 3, 3, c);
  float* wv = wt.ensure_host();
  for (size_t i = 0; i < wt.elements(); ++i) wv[i] = d(rng) * 0.1f;

  engine::LayerDesc desc;
  desc.name = "conv";
  desc.type = "Conv";
  const int params[10] = {3, 3, 1, 1, 1, 1, 1, 1, 1, 1};
  for (int i = 0; i < 10; ++i) desc.params[i] = params[i];
  desc.tensors[0] = "x";
  desc.tensors[1] = "y";
  desc.weights[0] = "w";
  s->layer = engine::find_layer(engine::kBackendDefault, "Conv")(desc, tensors, weights);
}

// args: height, width, channels (in = out), path (engine::simd::ConvPath:
// 0 plain, 1 wide128, 2 avx2, 3 avx512).
void BM_SimdConv3x3(benchmark::State& state) {
  const int h = static_cast<int>(state.range(0)), w = static_cast<int>(state.range(1));
  const int c = static_cast<int>(state.range(2));
  const auto path = static_cast<engine::simd::ConvPath>(state.range(3));
  if (!engine::simd::ConvPathRuns(path)) {
    state.SkipWithError((std::string("this processor does not run the ") +
                         engine::simd::ConvPathName(path) + " path").c_str());
    return;
  }
  ConvSetup setup;
  MakeConv(&setup, h, w, c);
  engine::Layer* layer = setup.layer;
  engine::TensorMap& tensors = setup.tensors;
  auto* limit = dynamic_cast<engine::simd::ConvPathLimit*>(layer);
  if (limit == nullptr) {
    state.SkipWithError("the layer takes no path limit");
    return;
  }
  limit->widest_path = path;
  engine::core::RunEnv env;
  env.generic_cpu = path == engine::simd::ConvPath::kPlain;
  if (!layer->reshape(env) || !layer->run(env)) {
    state.SkipWithError(layer->last_error.c_str());
    return;
  }
  for (auto _ : state) {
    layer->run(env);
    benchmark::DoNotOptimize(tensors["y"].host_data);
    benchmark::ClobberMemory();
  }
  state.counters["GFLOP"] = benchmark::Counter(
      static_cast<double>(layer->flops) * state.iterations() / 1e9, benchmark::Counter::kIsRate);
  state.SetLabel(layer->placement);
}

// The device of the OpenCL runs, with the engine program; null when there
// is none (the benchmark then reports why).
opencl::clEngine* Device(std::string* why) {
  static std::string reason;
  static opencl::clEngine* const engine = []() -> opencl::clEngine* {
    auto* e = new opencl::clEngine;
    // A GPU when there is one, else this machine's CPU device (vendor
    // codes 5 and 4).
    if (!e->Init(opencl::kVendorUnknown, true, false) && !e->Init(5, true, false) &&
        !e->Init(4, true, false)) {
      reason = "no OpenCL device";
      return nullptr;
    }
    if (!netrun::BuildEngineProgram(*e, netrun::DefaultEngineVariants(), &reason)) return nullptr;
    return e;
  }();
  *why = reason;
  return engine;
}

// args: height, width, channels (in = out).
void BM_ClConv3x3(benchmark::State& state) {
  std::string why;
  opencl::clEngine* device = Device(&why);
  if (device == nullptr) {
    state.SkipWithError(why.c_str());
    return;
  }
  ConvSetup setup;
  MakeConv(&setup, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
           static_cast<int>(state.range(2)));
  auto* layer = dynamic_cast<engine::cl::Base*>(setup.layer);
  engine::cl::RunEnv env;
  env.engine = device;
  // One whole run binds the arguments; then the kernel alone.
  if (layer == nullptr || !setup.layer->reshape(env) || !layer->on_device || !setup.layer->run(env)) {
    state.SkipWithError("the convolution does not run on the device");
    return;
  }
  for (auto _ : state) {
    if (!layer->kernel.Run(true, false, false)) {
      state.SkipWithError("kernel launch failed");
      return;
    }
    state.SetIterationTime(static_cast<double>(layer->kernel.endNs - layer->kernel.startNs) * 1e-9);
  }
  state.counters["GFLOP"] = benchmark::Counter(
      static_cast<double>(setup.layer->flops) * state.iterations() / 1e9,
      benchmark::Counter::kIsRate);
  state.SetLabel(setup.layer->placement + " on " + device->deviceName);
}

BENCHMARK(BM_SimdConv3x3)
    ->ArgNames({"h", "w", "c", "path"})
    ->ArgsProduct({{64}, {64}, {32}, {0, 1, 2, 3}})
    ->ArgsProduct({{128}, {128}, {16}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_ClConv3x3)
    ->ArgNames({"h", "w", "c"})
    ->Args({64, 64, 32})
    ->Args({128, 128, 16})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
