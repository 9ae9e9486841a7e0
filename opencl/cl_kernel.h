// Kernel runner: one object per kernel use, with its arguments, its global
// and local work sizes and the timestamps of its last profiled launch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "opencl/cl_engine.h"

namespace opencl {

// Reserved kernel name of the runner that copies a 2D image into a buffer.
extern const char* const kImageCopyToBufferName;  // "img_copy_to_buf"

struct ClKernelArg {
  enum Kind : int { kShort = 0, kInt = 1, kFloat = 2, kMem = 3 };
  unsigned char value[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  int kind = kShort;
};

// Bytes passed to clSetKernelArg for an argument kind; 0 for an unknown one.
size_t KernelArgSize(int kind);

// The largest divisor of n that is not above limit (at least 1).
size_t LargestDivisorAtMost(size_t n, size_t limit);

class ClKernel {
 public:
  ClKernel() = default;
  ~ClKernel();
  ClKernel(const ClKernel&) = delete;
  ClKernel& operator=(const ClKernel&) = delete;

  bool Init(clEngine* eng, const std::string& name, const std::string& stepLabel, bool create);

  bool SetArgShort(int index, int16_t value);
  bool SetArgInt(int index, int32_t value);
  bool SetArgFloat(int index, float value);
  bool SetArgMem(int index, cl_mem value);
  // Passes the stored arguments (index, or all for -1) to OpenCL.  Every
  // failed call is logged; false when any failed or a kind is unknown.
  bool SetArgs(int index = -1);

  void SetGlobalSize(size_t x, size_t y, size_t z);
  void SetGlobalSize(const size_t size[3]) { SetGlobalSize(size[0], size[1], size[2]); }
  void SetLocalSize(const size_t wish[3]);

  // Launches; false when any OpenCL call failed (each is logged).  After a
  // failed enqueue nothing is flushed, waited for or read.
  bool Run(bool profile, bool flush, bool finish, std::vector<cl_event> waitEvents = {});
  // Times every admissible local size and keeps the fastest.
  bool Tune();
  void PrintProfile() const;
  // The line PrintProfile writes, newline included.
  std::string ProfileLine() const;

  clEngine* engine = nullptr;
  std::string kernelName;
  std::string label;
  cl_kernel kernel = nullptr;
  std::string detail;
  cl_event event = nullptr;
  uint64_t queuedNs = 0, submitNs = 0, startNs = 0, endNs = 0;
  uint64_t bestTuneNs = UINT64_MAX;
  size_t kernelWorkGroupSize = 0;
  size_t tuneMultiple = 1;
  size_t maxItems[3] = {0, 0, 0};
  size_t fixedLocal[3] = {0, 0, 0};
  size_t local[3] = {1, 1, 1};
  size_t global[3] = {1, 1, 1};
  bool localLocked = false;
  std::vector<ClKernelArg> args;

 private:
  bool IsImageCopy() const;
  ClKernelArg& Slot(int index);
  void DropEvent();
  bool Enqueue(const size_t* localSize, cl_uint dims, const size_t* roundedGlobal,
               const std::vector<cl_event>& waitEvents, cl_event* outEvent);
};

// Formats one profile line from its parts (pure, for the runner and tests).
std::string FormatProfileLine(const std::string& label, const std::string& detail,
                              uint64_t queuedNs, uint64_t submitNs, uint64_t startNs,
                              uint64_t endNs);

}  // namespace opencl
