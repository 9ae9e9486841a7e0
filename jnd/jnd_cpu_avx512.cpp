// AVX-512 (foundation and byte/word) path without the dot-product
// instruction.  Compiled with the AVX-512 options only; chosen at run time.
#define JND_CPU_VNNI 0
#include "jnd/jnd_cpu_avx512.inl"

namespace jnd {
namespace {
constexpr JndCpuKernels kKernels = Rows<V512>::Table("avx512");
}  // namespace
const JndCpuKernels* JndCpuAvx512Kernels() { return &kKernels; }
}  // namespace jnd
