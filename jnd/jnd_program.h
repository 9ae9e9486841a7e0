// Assembly of the JND program text for a device family.
#pragma once

#include <string>

namespace jnd {

constexpr int kJndKernelVersion = 105;
// The marker kernel: its presence in a cached binary proves the binary was
// built from this text.
constexpr const char kJndMarkerKernel[] = "jnd_kernel_version_105";
constexpr const char kJndConv1Kernel[] = "jnd_conv1_3x3_s1x1_n4_c1";
constexpr const char kJndConv2Kernel[] = "jnd_conv2_3x3_s1x1_n4_c4";
constexpr const char kJndConv3Kernel[] = "jnd_conv3_3x3_s1x1_n1_c4";

enum class JndVariant { kGeneric, kQualcomm, kImagination };

// Variant for a device vendor code (7 Qualcomm, 8 Imagination).
JndVariant VariantForVendor(int vendor);

// The kernel text of one variant (without switches or prelude).
const std::string& JndVariantSource(JndVariant variant);

// The whole program: the QUANT line, the USE_BUFFER_OUT line when the
// kernels write their intermediates to buffers (not on the Qualcomm
// variant, whose kernels always do), the shared prelude, the variant and
// the marker kernel, joined by CRLF.
std::string AssembleJndProgram(JndVariant variant, bool quantised, bool bufferOut);

}  // namespace jnd
