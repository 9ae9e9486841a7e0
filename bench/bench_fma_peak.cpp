// The machine's measured multiply-add peak: independent chains of fused
// multiply-adds on every core (and on one), in the widest vectors the CPU
// offers (AVX2 + FMA when present, else SSE multiply and add). The JND
// benchmarks' GFLOP/s figures are read against this number.
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr int kChains = 12;         // enough independent chains to hide FMA latency
constexpr long kSteps = 1L << 22;  // per thread and run

// Returns floating-point operations done (a multiply-add counts two).
__attribute__((target("avx2,fma"))) double FmaLoopAvx2(float seed) {
  __m256 acc[kChains];
  for (int i = 0; i < kChains; ++i) acc[i] = _mm256_set1_ps(seed + i);
  const __m256 a = _mm256_set1_ps(0.999999f), b = _mm256_set1_ps(1e-7f);
  for (long s = 0; s < kSteps; ++s)
    for (int i = 0; i < kChains; ++i) acc[i] = _mm256_fmadd_ps(acc[i], a, b);
  __m256 sum = acc[0];
  for (int i = 1; i < kChains; ++i) sum = _mm256_add_ps(sum, acc[i]);
  float out[8];
  _mm256_storeu_ps(out, sum);
  benchmark::DoNotOptimize(out);
  return 2.0 * 8 * kChains * static_cast<double>(kSteps);
}

double MulAddLoopSse(float seed) {
  __m128 acc[kChains];
  for (int i = 0; i < kChains; ++i) acc[i] = _mm_set1_ps(seed + i);
  const __m128 a = _mm_set1_ps(0.999999f), b = _mm_set1_ps(1e-7f);
  for (long s = 0; s < kSteps; ++s)
    for (int i = 0; i < kChains; ++i) acc[i] = _mm_add_ps(_mm_mul_ps(acc[i], a), b);
  __m128 sum = acc[0];
  for (int i = 1; i < kChains; ++i) sum = _mm_add_ps(sum, acc[i]);
  float out[4];
  _mm_storeu_ps(out, sum);
  benchmark::DoNotOptimize(out);
  return 2.0 * 4 * kChains * static_cast<double>(kSteps);
}

bool HasAvx2Fma() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

void BM_FmaPeak(benchmark::State& state) {
  const int threads = state.range(0) == 0 ? static_cast<int>(std::thread::hardware_concurrency())
                                          : static_cast<int>(state.range(0));
  const bool avx2 = HasAvx2Fma();
  double flops = 0;
  for (auto _ : state) {
    std::atomic<int> ready{0};
    std::vector<double> done(threads, 0.0);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
      pool.emplace_back([&, t] {
        ready.fetch_add(1);
        while (ready.load() < threads) {
        }
        done[t] = avx2 ? FmaLoopAvx2(1.0f + t) : MulAddLoopSse(1.0f + t);
      });
    for (auto& th : pool) th.join();
    for (double d : done) flops += d;
  }
  state.counters["GFLOPs"] = benchmark::Counter(flops / 1e9, benchmark::Counter::kIsRate);
  state.counters["threads"] = threads;
  state.SetLabel(avx2 ? "AVX2 FMA, 8 floats" : "SSE mul+add, 4 floats");
}
// 0 = every core the machine reports.
BENCHMARK(BM_FmaPeak)->ArgName("threads")->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
