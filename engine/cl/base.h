// State every OpenCL layer shares: its kernel runner, where it runs and in
// which memory forms it exchanges tensors.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "engine/layer.h"
#include "opencl/cl_kernel.h"

namespace engine {
namespace cl {

// Tensor forms on the device.
constexpr int kModeHalfBuffer = 0;
constexpr int kModeHalfImage = 1;
constexpr int kModeByteBuffer = 2;

using WorkGroupTable = std::map<std::string, std::array<size_t, 3>>;

// A run environment with an OpenCL device: per-device tables of tuned
// local work sizes by layer name.
class RunEnv : public core::RunEnv {
 public:
  std::vector<WorkGroupTable> work_groups;
  int current_device = 0;
};

class Base : public virtual Layer {
 public:
  bool use_buffer_weight(opencl::clEngine* engine) override;
  void dump_config() override;
  bool load_config(core::RunEnv& env) override;

  // The tuned work-group line dump_config prints.
  std::string config_line() const;

  opencl::ClKernel kernel;
  bool on_device = false;
  int input_mode = kModeHalfImage;
  int output_mode = kModeHalfImage;
  bool prepared = false;
};

extern const char* const kConfigLineFormat;  // "{\"%s\",{%zu,%zu,%zu}},"

}  // namespace cl
}  // namespace engine
