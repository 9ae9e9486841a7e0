// The engine's CPU convolution: simd::Conv 3x3 (stride 1, pad 1) on
// 64x64x32 -> 32 and 128x128x16 -> 16 tensors, on the wide and the plain
// path, in GFLOP/s (2 x weight elements x output pixels per run).  Read
// the figures beside bench_fma_peak's single-core number.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "engine/cpu_info.h"
#include "engine/layer.h"
#include "engine/registry.h"

namespace {

// args: height, width, channels (in = out), plain (1) or wide (0).
void BM_SimdConv3x3(benchmark::State& state) {
  const int h = static_cast<int>(state.range(0)), w = static_cast<int>(state.range(1));
  const int c = static_cast<int>(state.range(2));
  const bool plain = state.range(3) != 0;
  if (!plain && !engine::cpu_info().avx_fma) {
    state.SkipWithError("this processor has no AVX+FMA");
    return;
  }
  engine::TensorMap tensors;
  engine::WeightMap weights;
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
  engine::Layer* layer = engine::find_layer(engine::kBackendDefault, "Conv")(desc, tensors, weights);
  engine::core::RunEnv env;
  env.generic_cpu = plain;
  if (!layer->reshape(env) || !layer->run(env)) {
    state.SkipWithError(layer->last_error.c_str());
    delete layer;
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
  delete layer;
}

BENCHMARK(BM_SimdConv3x3)
    ->ArgNames({"h", "w", "c", "plain"})
    ->Args({64, 64, 32, 0})
    ->Args({64, 64, 32, 1})
    ->Args({128, 128, 16, 0})
    ->Args({128, 128, 16, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
