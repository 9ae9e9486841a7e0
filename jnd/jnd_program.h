// The JND variants and the assembly of their program text.  Each variant is
// one row of a table: the device vendor that chooses it, the kernel files
// of its program, how the pipeline lays out its memory, which argument each
// kernel takes at which position, and how many pixels one work item of each
// kernel covers.  A new vendor variant is one kernel file in jnd/kernels and
// one row (plus its name in JndVariant).
#pragma once

#include <cstddef>
#include <cstdint>
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

// How the input plane reaches conv1 (unless the device imports host memory,
// which always gives a buffer over the plane).
enum class JndInputForm {
  kBuffer,      // a buffer of the plane's rows, `stride` bytes apart
  kTexelImage,  // an RGBA 8-bit image, one texel per four pixels of a row
};

// What a kernel argument is bound to.  kEnd closes a list.
enum class JndArg : uint8_t {
  kEnd,
  kInputBuffer,
  kInputImage,
  kInter1Image,    // conv1's result read as an image
  kInter1Written,  // where conv1 writes: the buffer under the image when
                   // intermediates go to buffers, else the image
  kInter2Image,
  kInter2Written,
  kOutputBuffer,
  kWeights,        // the kernel's own weight buffer
  kWidth,
  kHeight,
  kStride,         // bytes between the rows of the input and output planes
  kInter1Row,      // row length of the intermediates
  kInter2Row,
};
constexpr int kJndMaxArgs = 8;
constexpr int kJndKernels = 3;

// A kernel's arguments by position.
struct JndArgList {
  JndArg at[kJndMaxArgs];
};

struct JndVariantDesc {
  JndVariant variant;
  int vendor;                   // device vendor code choosing it (unknown: the default)
  const char* sources[4];       // jnd/kernels files joined into the program, nullptr-ended
  JndInputForm input;
  bool writesBuffers;           // kernels write the intermediates to buffers on every device
  JndArgList args[kJndKernels];               // per kernel
  uint8_t pixelsPerItem[kJndKernels][2];      // per kernel, across and down
  size_t conv1Local[2];         // fixed work-group size of conv1; 0 leaves it to the tables
};

// The row of a variant.
const JndVariantDesc& VariantDesc(JndVariant variant);

// The variant for a device vendor code (opencl::ClVendor): the row naming
// that vendor, the generic variant where none does.
JndVariant VariantForVendor(int vendor);

// Position of `arg` in kernel `kernel`'s list; -1 when the kernel does not
// take it.
int ArgIndex(const JndVariantDesc& desc, int kernel, JndArg arg);

// The kernel text of one variant (without switches or prelude).
const std::string& JndVariantSource(JndVariant variant);

// The whole program: the QUANT line, the USE_BUFFER_OUT line when the
// kernels write their intermediates to buffers (not on a variant whose
// kernels always do), the shared prelude, the variant and the marker
// kernel, joined by CRLF.
std::string AssembleJndProgram(JndVariant variant, bool quantised, bool bufferOut);

}  // namespace jnd
