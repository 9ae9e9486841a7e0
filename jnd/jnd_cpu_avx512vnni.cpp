// AVX-512 path with the 16-bit dot-product-accumulate instruction (VNNI).
// Compiled with the AVX-512 and VNNI options only; chosen at run time.
#define JND_CPU_VNNI 1
#include "jnd/jnd_cpu_avx512.inl"

namespace jnd {
namespace {
constexpr JndCpuKernels kKernels = Rows<V512>::Table("avx512vnni");
}  // namespace
const JndCpuKernels* JndCpuAvx512VnniKernels() { return &kKernels; }
}  // namespace jnd
