// The machine's measured multiply-add peaks, on every core and on one:
//   BM_FmaPeak             float: independent chains of fused multiply-adds
//                          in 256-bit vectors (AVX2 + FMA when present,
//                          else SSE multiply and add); the GFLOP/s figures
//                          of the float paths are read against it.
//   BM_FmaPeak512          the same in 512-bit vectors, where the CPU has
//                          AVX-512F; the engine's convolution paths are
//                          read against the widest peak measured.
//   BM_Int16MaddPeak/ISA   16-bit integer multiply-adds into 32-bit sums,
//                          one benchmark per instruction form the CPU runs:
//                            avx512vnni  vpdpwssd zmm (32 multiply-adds)
//                            avx512bw    vpmaddwd + vpaddd zmm (32)
//                            avx2        vpmaddwd + vpaddd ymm (16)
//                            sse2        pmaddwd + paddd xmm (8)
//                          counted in multiply-adds per second (GMACs); the
//                          integer JND paths are read against the form they
//                          use.
// Which forms run is decided at run time from CPUID (platform/cpu_features.h);
// nothing here is compiled for an extension outside its target function.
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/cpu_features.h"

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

__attribute__((target("avx512f"))) double FmaLoopAvx512(float seed) {
  __m512 acc[kChains];
  for (int i = 0; i < kChains; ++i) acc[i] = _mm512_set1_ps(seed + i);
  const __m512 a = _mm512_set1_ps(0.999999f), b = _mm512_set1_ps(1e-7f);
  for (long s = 0; s < kSteps; ++s)
    for (int i = 0; i < kChains; ++i) acc[i] = _mm512_fmadd_ps(acc[i], a, b);
  __m512 sum = acc[0];
  for (int i = 1; i < kChains; ++i) sum = _mm512_add_ps(sum, acc[i]);
  float out[16];
  _mm512_storeu_ps(out, sum);
  benchmark::DoNotOptimize(out);
  return 2.0 * 16 * kChains * static_cast<double>(kSteps);
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

// ---- 16-bit integer multiply-add loops -------------------------------------
//
// Each returns the multiply-adds done (one 16-bit product added into a
// 32-bit sum).  A step of all chains is one asm statement on named
// registers: the compiler can neither fold, merge nor hoist the arithmetic,
// nor add register copies to the loop (it does both with intrinsics on
// arrays of sums); the sums are stored and kept at the end.

#define OX_SUMS8(c) c(a0), c(a1), c(a2), c(a3), c(a4), c(a5), c(a6), c(a7)
#define OX_SUMS8B(c) c(a8), c(a9), c(a10), c(a11), c(a12), c(a13), c(a14), c(a15)
#define OX_RW_V(v) "+v"(v)
#define OX_RW_X(v) "+x"(v)

// vpdpwssd: the sum is an operand, so each chain is a dependency chain of
// the instruction's latency (4-5 cycles); 16 chains keep two units busy.
__attribute__((target("avx512f,avx512bw,avx512vnni"))) double Int16LoopVnni512(int seed) {
  __m512i a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15;
  a0 = a1 = a2 = a3 = a4 = a5 = a6 = a7 = _mm512_set1_epi32(seed);
  a8 = a9 = a10 = a11 = a12 = a13 = a14 = a15 = _mm512_set1_epi32(seed + 1);
  const __m512i x = _mm512_set1_epi16(static_cast<short>(3 + seed));
  const __m512i w = _mm512_set1_epi16(-2);
  // Two statements of 8 sums: an asm statement takes at most 30 operands.
  for (long s = 0; s < kSteps; ++s) {
    __asm__ volatile(
          "vpdpwssd %[w], %[x], %0\n\t"
          "vpdpwssd %[w], %[x], %1\n\t"
          "vpdpwssd %[w], %[x], %2\n\t"
          "vpdpwssd %[w], %[x], %3\n\t"
          "vpdpwssd %[w], %[x], %4\n\t"
          "vpdpwssd %[w], %[x], %5\n\t"
          "vpdpwssd %[w], %[x], %6\n\t"
          "vpdpwssd %[w], %[x], %7\n\t"
        : OX_SUMS8(OX_RW_V)
        : [x] "v"(x), [w] "v"(w));
    __asm__ volatile(
          "vpdpwssd %[w], %[x], %0\n\t"
          "vpdpwssd %[w], %[x], %1\n\t"
          "vpdpwssd %[w], %[x], %2\n\t"
          "vpdpwssd %[w], %[x], %3\n\t"
          "vpdpwssd %[w], %[x], %4\n\t"
          "vpdpwssd %[w], %[x], %5\n\t"
          "vpdpwssd %[w], %[x], %6\n\t"
          "vpdpwssd %[w], %[x], %7\n\t"
        : OX_SUMS8B(OX_RW_V)
        : [x] "v"(x), [w] "v"(w));
  }
  const __m512i sum = _mm512_add_epi32(
      _mm512_add_epi32(_mm512_add_epi32(_mm512_add_epi32(a0, a1), _mm512_add_epi32(a2, a3)),
                       _mm512_add_epi32(_mm512_add_epi32(a4, a5), _mm512_add_epi32(a6, a7))),
      _mm512_add_epi32(_mm512_add_epi32(_mm512_add_epi32(a8, a9), _mm512_add_epi32(a10, a11)),
                       _mm512_add_epi32(_mm512_add_epi32(a12, a13), _mm512_add_epi32(a14, a15))));
  alignas(64) int out[16];
  _mm512_store_si512(out, sum);
  benchmark::DoNotOptimize(out);
  return 32.0 * 16 * static_cast<double>(kSteps);
}

// vpmaddwd into a scratch register, then vpaddd into the sum: the chain
// through each sum is only the add (1 cycle) and the products do not depend
// on it, so 8 chains are plenty.
__attribute__((target("avx512f,avx512bw"))) double Int16LoopMadd512(int seed) {
  __m512i a0, a1, a2, a3, a4, a5, a6, a7, t;
  a0 = a1 = a2 = a3 = a4 = a5 = a6 = a7 = _mm512_set1_epi32(seed);
  const __m512i x = _mm512_set1_epi16(static_cast<short>(3 + seed));
  const __m512i w = _mm512_set1_epi16(-2);
  for (long s = 0; s < kSteps; ++s)
    __asm__ volatile(
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %0, %0\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %1, %1\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %2, %2\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %3, %3\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %4, %4\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %5, %5\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %6, %6\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %7, %7\n\t"
        : OX_SUMS8(OX_RW_V), [t] "=&v"(t)
        : [x] "v"(x), [w] "v"(w));
  const __m512i sum =
      _mm512_add_epi32(_mm512_add_epi32(_mm512_add_epi32(a0, a1), _mm512_add_epi32(a2, a3)),
                       _mm512_add_epi32(_mm512_add_epi32(a4, a5), _mm512_add_epi32(a6, a7)));
  alignas(64) int out[16];
  _mm512_store_si512(out, sum);
  benchmark::DoNotOptimize(out);
  return 32.0 * 8 * static_cast<double>(kSteps);
}

__attribute__((target("avx2"))) double Int16LoopMadd256(int seed) {
  __m256i a0, a1, a2, a3, a4, a5, a6, a7, t;
  a0 = a1 = a2 = a3 = a4 = a5 = a6 = a7 = _mm256_set1_epi32(seed);
  const __m256i x = _mm256_set1_epi16(static_cast<short>(3 + seed));
  const __m256i w = _mm256_set1_epi16(-2);
  for (long s = 0; s < kSteps; ++s)
    __asm__ volatile(
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %0, %0\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %1, %1\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %2, %2\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %3, %3\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %4, %4\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %5, %5\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %6, %6\n\t"
        "vpmaddwd %[w], %[x], %[t]\n\tvpaddd %[t], %7, %7\n\t"
        : OX_SUMS8(OX_RW_X), [t] "=&x"(t)
        : [x] "x"(x), [w] "x"(w));
  const __m256i sum =
      _mm256_add_epi32(_mm256_add_epi32(_mm256_add_epi32(a0, a1), _mm256_add_epi32(a2, a3)),
                       _mm256_add_epi32(_mm256_add_epi32(a4, a5), _mm256_add_epi32(a6, a7)));
  alignas(32) int out[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(out), sum);
  benchmark::DoNotOptimize(out);
  return 16.0 * 8 * static_cast<double>(kSteps);
}

// Two-operand SSE2: the product overwrites its register, so the data is
// copied into the scratch register first (a register move, which the
// processor usually drops at rename).
double Int16LoopMadd128(int seed) {
  __m128i a0, a1, a2, a3, a4, a5, a6, a7, t;
  a0 = a1 = a2 = a3 = a4 = a5 = a6 = a7 = _mm_set1_epi32(seed);
  const __m128i x = _mm_set1_epi16(static_cast<short>(3 + seed));
  const __m128i w = _mm_set1_epi16(-2);
  for (long s = 0; s < kSteps; ++s)
    __asm__ volatile(
        "movdqa %[x], %[t]\n\tpmaddwd %[w], %[t]\n\tpaddd %[t], %0\n\t"
        "movdqa %[x], %[t]\n\tpmaddwd %[w], %[t]\n\tpaddd %[t], %1\n\t"
        "movdqa %[x], %[t]\n\tpmaddwd %[w], %[t]\n\tpaddd %[t], %2\n\t"
        "movdqa %[x], %[t]\n\tpmaddwd %[w], %[t]\n\tpaddd %[t], %3\n\t"
        "movdqa %[x], %[t]\n\tpmaddwd %[w], %[t]\n\tpaddd %[t], %4\n\t"
        "movdqa %[x], %[t]\n\tpmaddwd %[w], %[t]\n\tpaddd %[t], %5\n\t"
        "movdqa %[x], %[t]\n\tpmaddwd %[w], %[t]\n\tpaddd %[t], %6\n\t"
        "movdqa %[x], %[t]\n\tpmaddwd %[w], %[t]\n\tpaddd %[t], %7\n\t"
        : OX_SUMS8(OX_RW_X), [t] "=&x"(t)
        : [x] "x"(x), [w] "x"(w));
  const __m128i sum = _mm_add_epi32(_mm_add_epi32(_mm_add_epi32(a0, a1), _mm_add_epi32(a2, a3)),
                                    _mm_add_epi32(_mm_add_epi32(a4, a5), _mm_add_epi32(a6, a7)));
  alignas(16) int out[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(out), sum);
  benchmark::DoNotOptimize(out);
  return 8.0 * 8 * static_cast<double>(kSteps);
}

#undef OX_SUMS8
#undef OX_SUMS8B
#undef OX_RW_V
#undef OX_RW_X

// ---- harness ---------------------------------------------------------------

// 0 = every logical core the machine reports.
int ThreadsOf(const benchmark::State& state) {
  return state.range(0) == 0 ? static_cast<int>(std::thread::hardware_concurrency())
                             : static_cast<int>(state.range(0));
}

// Runs fn(thread index) on `threads` threads released together; returns the
// sum of what they return.
template <typename Fn>
double OnThreads(int threads, Fn fn) {
  std::atomic<int> ready{0};
  std::vector<double> done(threads, 0.0);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < threads) {
      }
      done[t] = fn(t);
    });
  for (auto& th : pool) th.join();
  double sum = 0;
  for (double d : done) sum += d;
  return sum;
}

struct FloatForm {
  const char* label;  // instruction and vector width
  double (*loop)(float seed);
};

void BM_FloatPeak(benchmark::State& state, const FloatForm* form) {
  const int threads = ThreadsOf(state);
  double flops = 0;
  for (auto _ : state)
    flops += OnThreads(threads, [form](int t) { return form->loop(1.0f + t); });
  state.counters["GFLOPs"] = benchmark::Counter(flops / 1e9, benchmark::Counter::kIsRate);
  state.counters["threads"] = threads;
  state.SetLabel(form->label);
}

struct Int16Form {
  const char* name;   // benchmark name part, matched by bench/summarise.py
  const char* label;  // instruction and chains
  double (*loop)(int seed);
};

void BM_Int16MaddPeak(benchmark::State& state, const Int16Form* form) {
  const int threads = ThreadsOf(state);
  double macs = 0;
  for (auto _ : state) macs += OnThreads(threads, [form](int t) { return form->loop(1 + t); });
  state.counters["GMACs"] = benchmark::Counter(macs / 1e9, benchmark::Counter::kIsRate);
  state.counters["threads"] = threads;
  state.SetLabel(form->label);
}

void RegisterAll() {
  static const FloatForm kFma256 = {"AVX2 FMA, 8 floats", FmaLoopAvx2};
  static const FloatForm kSse = {"SSE mul+add, 4 floats", MulAddLoopSse};
  static const FloatForm kFma512 = {"AVX-512 FMA, 16 floats", FmaLoopAvx512};
  const platform::CpuFeatures& features = platform::GetCpuFeatures();
  benchmark::RegisterBenchmark("BM_FmaPeak", BM_FloatPeak, features.avx2 && features.fma ? &kFma256 : &kSse)
      ->ArgName("threads")->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);
  if (features.avx512f)
    benchmark::RegisterBenchmark("BM_FmaPeak512", BM_FloatPeak, &kFma512)
        ->ArgName("threads")->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

  static const Int16Form kVnni = {"avx512vnni", "vpdpwssd zmm, 16 chains, 32 multiply-adds each",
                                  Int16LoopVnni512};
  static const Int16Form kBw = {"avx512bw", "vpmaddwd + vpaddd zmm, 8 chains, 32 multiply-adds each",
                                Int16LoopMadd512};
  static const Int16Form kAvx2 = {"avx2", "vpmaddwd + vpaddd ymm, 8 chains, 16 multiply-adds each",
                                  Int16LoopMadd256};
  static const Int16Form kSse2 = {"sse2", "pmaddwd + paddd xmm, 8 chains, 8 multiply-adds each",
                                  Int16LoopMadd128};
  const platform::CpuFeatures& cpu = platform::GetCpuFeatures();
  std::vector<const Int16Form*> forms;
  if (cpu.avx512vnni) forms.push_back(&kVnni);
  if (cpu.avx512bw) forms.push_back(&kBw);
  if (cpu.avx2) forms.push_back(&kAvx2);
  forms.push_back(&kSse2);  // part of x86-64
  for (const Int16Form* form : forms)
    benchmark::RegisterBenchmark((std::string("BM_Int16MaddPeak/") + form->name).c_str(),
                                 BM_Int16MaddPeak, form)
        ->ArgName("threads")->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
