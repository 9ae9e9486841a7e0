// The JND pre-filter on the CPU: the same network as the quantised OpenCL
// path, in 16-bit fixed point, the three layers fused over row bands that
// stay in cache, vectorised across pixels with the widest instruction set
// the processor has.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jnd/jnd_cpu_kernels.h"
#include "jnd/jnd_filter.h"

namespace jnd {

class JndThreadPool;

// The paths this processor can run, the plain one first and the fastest
// last.
std::vector<const JndCpuKernels*> JndCpuPaths();
// The fastest runnable path.
const JndCpuKernels& JndCpuBestPath();
// A runnable path by name, or null.
const JndCpuKernels* JndCpuPathNamed(const std::string& name);

// Most threads a filter takes.
constexpr int kJndCpuMaxThreads = 64;

class JndFilterCpu : public JndFilter {
 public:
  JndFilterCpu();
  ~JndFilterCpu() override;
  JndFilterCpu(const JndFilterCpu&) = delete;
  JndFilterCpu& operator=(const JndFilterCpu&) = delete;

  // Takes the weight set and the number of threads a frame is split over
  // (1: all work on the calling thread; more: threads - 1 pool threads
  // are started here and work beside the caller).  A pool thread that
  // fails to start leaves its share to the others.  `path` picks an
  // instruction-set path (null: the fastest).  Returns false, with the
  // error text, for a thread count outside 1..kJndCpuMaxThreads.
  bool initialise(const JNDNetWeights& weights, int threads,
                  const JndCpuKernels* path = nullptr);
  // Joins the pool threads and frees the row buffers.
  bool release() override;
  // Converts the set to fixed point; false when not initialised.
  bool update_net_paras(const JNDNetWeights& weights) override;
  // Filters `height` rows of `width` bytes, `stride` bytes apart; source
  // and destination may be the same plane.  Null planes, sizes below 1 or
  // a stride below the width: false with the error text, nothing written.
  // After the first frame of a geometry, allocates nothing.
  bool process(const uint8_t* src, uint8_t* dst, int width, int height, int stride,
               bool finish) override;

  const JndCpuKernels& path() const { return *path_; }
  // Threads that work on a frame, the caller included.
  int threads() const;
  const JndFixedNet& net() const { return net_; }

 private:
  struct Band;
  // Sizes the bands for a geometry, and the copy of an overlapping source
  // plane when stagingBytes is not 0.
  void setUpGeometry(int width, int height, int stride, size_t stagingBytes);
  void runBand(int index, const uint8_t* src, uint8_t* dst, bool inPlace);
  void saveHalo(int index, const uint8_t* src);

  const JndCpuKernels* path_;
  JndFixedNet net_{};
  std::unique_ptr<JndThreadPool> pool_;
  std::vector<Band> bands_;
  // Copy of a source plane that overlaps its destination without being it.
  std::vector<uint8_t> staging_;
  int width_ = 0, height_ = 0, stride_ = 0;
};

}  // namespace jnd
