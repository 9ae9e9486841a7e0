#include "engine/cl/kernel_sources.h"

#include <map>

#include "engine_kernel_texts.h"

namespace engine {
namespace cl {

namespace {

constexpr char kKernelNamePrelude[] = "kernel_name_prelude";
// The source of the blocks the others share; it leads the program body.
constexpr char kSharedBlocks[] = "conv_blocks";

// The engine sources in the order a program takes them: every kernel file
// but the kernel-name prelude, each once.
constexpr const char* kProgramOrder[] = {
    "concat",  "conv_blocks", "conv",      "depthwise",      "pooling",          "binary_op",
    "image_to_buf", "shuffle", "split",    "softmax",        "resize",           "deconv",
    "batchnorm", "slice",     "normalize", "shuffle_split2", "conv_input_uint8", "conv1x1",
    "conv3x3", "conv3x3_n1"};

constexpr bool InProgramOrder(std::string_view name) {
  for (const char* n : kProgramOrder) {
    if (name == n) return true;
  }
  return false;
}

constexpr bool EveryOrderedNameHasAFile() {
  for (const char* n : kProgramOrder) {
    if (opencl::FindEmbeddedText(kEngineKernelTexts, n) == nullptr) return false;
  }
  return opencl::FindEmbeddedText(kEngineKernelTexts, kKernelNamePrelude) != nullptr;
}

constexpr bool EveryFileIsOrdered() {
  for (const opencl::EmbeddedText& row : kEngineKernelTexts) {
    if (!InProgramOrder(row.name) && std::string_view(row.name) != kKernelNamePrelude) return false;
  }
  return true;
}

static_assert(EveryOrderedNameHasAFile(),
              "a name in kProgramOrder (or the kernel-name prelude) has no file in engine/cl/kernels");
static_assert(EveryFileIsOrdered(), "a file in engine/cl/kernels is missing from kProgramOrder");
static_assert(InProgramOrder(kSharedBlocks), "the shared blocks must be an engine source");

}  // namespace

const std::string& EngineSourceText(const std::string& name) {
  static const std::map<std::string, std::string> texts = [] {
    std::map<std::string, std::string> m;
    for (const opencl::EmbeddedText& row : kEngineKernelTexts) m.emplace(row.name, row.text);
    return m;
  }();
  static const std::string empty;
  const auto it = texts.find(name);
  return it == texts.end() ? empty : it->second;
}

const std::string& KernelNamePrelude() { return EngineSourceText(kKernelNamePrelude); }

const std::vector<std::string>& EngineSourceOrder() {
  static const std::vector<std::string> order(std::begin(kProgramOrder), std::end(kProgramOrder));
  return order;
}

const std::string& EngineSourcesText() {
  static const std::string joined = [] {
    std::string text = EngineSourceText(kSharedBlocks);
    for (const std::string& name : EngineSourceOrder()) {
      text += EngineSourceText(name);
      text += '\n';
    }
    return text;
  }();
  return joined;
}

}  // namespace cl
}  // namespace engine
