// Assembly and build of the engine's OpenCL program for netrun's cl
// device: one program holding the layer kernels in every memory-form
// variant the layers ask for.
#pragma once

#include <string>
#include <vector>

#include "opencl/cl_engine.h"

namespace netrun {

struct BufferVariant {
  bool buffer_weight;
  bool buffer_out;
};

// Option defines, shared prelude, then per variant: its USE_BUFFER_*
// defines (undefining the others), the kernel-name prelude and the engine
// sources, the shared blocks ahead of the others.  KHR_SUB_GROUP only when
// engine.khrSubgroups.
std::string AssembleEngineProgram(const opencl::clEngine& engine,
                                  const std::vector<BufferVariant>& variants);

// The build options for the engine program: the engine's own, without the
// OpenCL C 2.0 switch (the kernels are OpenCL C 1.2, and some compilers
// refuse the half loads and stores on half pointers at 2.0).
std::string EngineBuildOptions(const opencl::clEngine& engine);

// Builds it into engine.program (kernels created by name later through
// ClKernel::Init); false with the build log in *error.
bool BuildEngineProgram(opencl::clEngine& engine, const std::vector<BufferVariant>& variants,
                        std::string* error);

// The variants the layers use: plain and buffer-out.
std::vector<BufferVariant> DefaultEngineVariants();

}  // namespace netrun
