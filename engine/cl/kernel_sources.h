// The OpenCL C texts of the engine's layer kernels, and the pieces a driver
// of the engine needs to assemble a program from them.  Every file in
// engine/cl/kernels is embedded at build time under its name (the file name
// without ".cl"); the order a program takes them in is one list in
// kernel_sources.cpp, which the build checks against the files.
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

// The kernel-name prelude (kernels/kernel_name_prelude.cl).
const std::string& KernelNamePrelude();

// The text of kernels/<name>.cl; empty for a name with no file.
const std::string& EngineSourceText(const std::string& name);

// The names of the engine sources in program order (the kernel-name
// prelude is not among them).
const std::vector<std::string>& EngineSourceOrder();

// The program body of one combination: the shared blocks (conv_blocks.cl)
// first, so that every source may use them (their guard skips the second
// copy), then the engine sources in program order, each followed by "\n".
const std::string& EngineSourcesText();

}  // namespace cl
}  // namespace engine
