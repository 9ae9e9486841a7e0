// The kernel table of each convolution path, one per file, each file
// compiled for its instruction set only (engine/CMakeLists.txt).  Only
// KernelsFor (conv_kernels.cpp) hands them out, after the processor check.
#pragma once

#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

const ConvKernels& PlainConvKernels();    // conv_plain.cpp: SSE
const ConvKernels& Wide128ConvKernels();  // conv_wide128.cpp: AVX + FMA, 128-bit
const ConvKernels& Avx2ConvKernels();     // conv_avx2.cpp: AVX2 + FMA, 256-bit
const ConvKernels& Avx512ConvKernels();   // conv_avx512.cpp: AVX-512F, 512-bit

}  // namespace simd
}  // namespace engine
