// Per-GPU local work sizes of the three JND kernels: the shipped tables,
// their lookup and the row printed by the tuning mode.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace opencl {
class ClKernel;
}

namespace jnd {

struct KernelLocalSize {
  const char* label;  // "conv1", "conv2", "conv3"
  size_t local[3];
};

// One row: the GPU it is for, the kernel count (a row takes part only with
// 3) and the three kernels' local sizes.
struct KernelGroupCfg {
  std::string deviceName;
  std::string deviceVersion;
  int kernelCount;
  KernelLocalSize kernels[3];
};

// The tables hold this many rows; the lookup is told the count.
constexpr int kKernelGroupCfgRows = 28;
extern const KernelGroupCfg kKernelGroupCfgFloat[kKernelGroupCfgRows];
extern const KernelGroupCfg kKernelGroupCfgQuant[kKernelGroupCfgRows];

// Device a row is matched against: Qualcomm devices (vendor code 7) by
// version, since every Adreno reports the same name; others by name.
struct KernelCfgDevice {
  int vendor = 0;
  std::string name;
  std::string version;
};

bool RowMatchesDevice(const KernelGroupCfg& row, const KernelCfgDevice& device);

// Applies the first row that matches the device and all three kernels by
// label (conv1, conv2, conv3 of the filter in that order), fitting each
// configured size to the kernel's global size.  A configured size the
// kernel cannot launch with is skipped.  True when a row applied fully.
bool load_kernel_group_cfg(const KernelGroupCfg* rows, int count, const KernelCfgDevice& device,
                           opencl::ClKernel* const kernels[3]);

// The tuning mode's output: one row in the tables' own form, newline
// included.
std::string FormatKernelGroupRow(const std::string& deviceName, const std::string& deviceVersion,
                                 const opencl::ClKernel* const kernels[3]);

// Reads a printed row back; labels are kept in *labels (the row points
// into it).  False when the text is not a row.
bool ParseKernelGroupRow(const std::string& text, KernelGroupCfg* row,
                         std::vector<std::string>* labels);

}  // namespace jnd
