// The OpenCL C texts the library carries: a table of named source strings
// (vendor names, shared prelude, kernel-name prelude, the JND variants and
// the twenty sources of the engine's layer kernels), and the pieces a
// driver of the engine needs to assemble a program from them.
//
// An engine program is assembled as: option defines, the shared prelude,
// then for each wanted combination of USE_BUFFER_WEIGHT / USE_BUFFER_OUT
// those defines, the kernel-name prelude and the engine sources.  The
// kernel-name prelude renames every layer kernel after the combination
// ("_buf_weight", "_buf_out"), so one program holds all combinations; the
// shared blocks and the kernels that do not depend on the combination are
// guarded so they are compiled once.
#pragma once

#include <string>
#include <vector>

namespace engine {
namespace cl {

// The engine sources, in table order.
enum EngineSource : int {
  kSourceConcat = 0,
  kSourceConvBlocks,
  kSourceConv,
  kSourceDepthwise,
  kSourcePooling,
  kSourceBinaryOp,
  kSourceImageToBuf,
  kSourceShuffle,
  kSourceSplit,
  kSourceSoftmax,
  kSourceResize,
  kSourceDeconv,
  kSourceBatchnorm,
  kSourceSlice,
  kSourceNormalize,
  kSourceShuffleSplit2,
  kSourceConvInputUint8,
  kSourceConv1x1,
  kSourceConv3x3,
  kSourceConv3x3SingleChannel,
  kEngineSourceCount
};

struct KernelSourceEntry {
  std::string name;
  std::string text;
};

// In order: one entry per vendor code (its name text), the shared prelude,
// the kernel-name prelude, the three JND variants (generic, Qualcomm,
// Imagination), then the engine sources in EngineSource order.
const std::vector<KernelSourceEntry>& KernelSourceTable();
// Index of the first engine source in the table.
int EngineSourceTableOffset();

const std::string& KernelNamePrelude();
const std::string& EngineSourceText(int source);
// The twenty engine sources joined in table order.
const std::string& EngineSourcesText();

}  // namespace cl
}  // namespace engine
