#include "tools/netrun/engine_program.h"

#include "engine/cl/kernel_sources.h"
#include "opencl/cl_prelude.h"

namespace netrun {

namespace {

const char kClStd20[] = " -cl-std=CL2.0";

void AppendDefine(std::string& text, const char* name) {
  text += "#ifndef ";
  text += name;
  text += "\n#define ";
  text += name;
  text += "\n#endif\n";
}

}  // namespace

std::string AssembleEngineProgram(const opencl::clEngine& engine,
                                  const std::vector<BufferVariant>& variants) {
  std::string text;
  if (engine.fp16) AppendDefine(text, "HALF_FP");
  if (engine.vendor == opencl::kVendorQualcomm) AppendDefine(text, "QUALCOMM");
  if (engine.khrSubgroups) AppendDefine(text, "KHR_SUB_GROUP");
  text.append(opencl::ClPreludeText(), opencl::ClPreludeLength());
  text += "\n";
  for (const BufferVariant& v : variants) {
    text += "#undef USE_BUFFER_WEIGHT\n#undef USE_BUFFER_OUT\n";
    if (v.buffer_weight) text += "#define USE_BUFFER_WEIGHT\n";
    if (v.buffer_out) text += "#define USE_BUFFER_OUT\n";
    text += engine::cl::KernelNamePrelude();
    text += "\n";
    text += engine::cl::EngineSourcesText();
  }
  return text;
}

std::string EngineBuildOptions(const opencl::clEngine& engine) {
  std::string options = engine.buildOptions;
  for (size_t at = options.find(kClStd20); at != std::string::npos; at = options.find(kClStd20)) {
    options.erase(at, sizeof kClStd20 - 1);
  }
  return options;
}

bool BuildEngineProgram(opencl::clEngine& engine, const std::vector<BufferVariant>& variants,
                        std::string* error) {
  const std::string text = AssembleEngineProgram(engine, variants);
  const std::string saved = engine.buildOptions;
  engine.buildOptions = EngineBuildOptions(engine);
  const bool ok = engine.BuildFromSource(text.c_str(), std::string());
  engine.buildOptions = saved;
  if (!ok && error != nullptr) *error = engine.lastError;
  return ok;
}

std::vector<BufferVariant> DefaultEngineVariants() { return {{false, false}, {false, true}}; }

}  // namespace netrun
