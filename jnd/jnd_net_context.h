// Holder of one JND filter and the shipped weight sets; picks the set for
// each frame.
#pragma once

#include <cstdint>
#include <memory>

#include "jnd/jnd_filter.h"
#include "jnd/jnd_filter_cpu.h"

namespace jnd {

constexpr int kDefaultWeightsId = 2;

// Where the network runs: the OpenCL device, or the CPU.
enum class JndBackend { kOpenCL, kCpu };

class JndNetContext {
 public:
  // cpuThreads: how many threads the CPU backend splits a frame over.
  explicit JndNetContext(JndBackend backend = JndBackend::kOpenCL, int cpuThreads = 1);

  // Initialises the filter with set 2: on OpenCL with no cache, run mode 0,
  // automatic device and no external work sizes; on the CPU with the
  // thread count given at creation.
  bool init(bool quantised);
  // Switches to the requested set when it changed, then filters once.
  bool run(const uint8_t* src, uint8_t* dst, int width, int height, int stride, int weightsId);

  JndBackend backend() const { return backend_; }
  JndFilter& filter() { return *filter_; }
  // The filter as its implementation; null for the other backend.
  JndFilterCL* openclFilter() { return opencl_; }
  JndFilterCpu* cpuFilter() { return cpu_; }
  int currentWeightsId() const { return current_id_; }

 private:
  JndBackend backend_;
  int cpu_threads_;
  std::shared_ptr<JndFilter> filter_;
  JndFilterCL* opencl_ = nullptr;
  JndFilterCpu* cpu_ = nullptr;
  JNDNetWeights sets_[4];
  int current_id_ = kDefaultWeightsId;
};

}  // namespace jnd
