// PvcWorker: sequences the JND pipeline for the perceptual filter: one-time
// initialisation, a warm-up per geometry or model, then per-frame runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "host/extension_interface.h"
#include "jnd/jnd_net_context.h"

namespace pvc {

// Status codes of PvcWorker::process.
enum WorkerStatus : int {
  kWorkerFiltered = 0,
  kWorkerBadModel = -1,
  kWorkerLibraryError = -2,
  kWorkerInitialising = -3,
  kWorkerBusy = -4,
  kWorkerWarmUp = -5,
  kWorkerProcessError = -6,
};

constexpr int kMaxLandscapeWidth = 1280;
constexpr int kMaxLandscapeHeight = 720;

// What the CPU backend set up when it initialised: its instruction-set
// path (a static name) and the threads a frame is split over.
struct CpuSetup {
  const char* path = nullptr;
  int threads = 0;
};

class PvcWorker {
 public:
  // The OpenCL backend.
  PvcWorker();
  // The backend the JND network runs on; cpuThreads: how many threads the
  // CPU backend splits each frame over (1: all on the calling thread).
  PvcWorker(jnd::JndBackend backend, int cpuThreads);
  virtual ~PvcWorker();
  PvcWorker(const PvcWorker&) = delete;
  PvcWorker& operator=(const PvcWorker&) = delete;

  virtual bool isReady() { return true; }
  // Landscape and square frames up to 1280x720, portrait up to 720x1280.
  virtual bool isResolutionSupported(int width, int height, int config);
  // Filters the record's luma plane in place; 0 or a negative status.
  virtual int process(const host::FrameDataRecord* record, int modelId);

  // Drops the JND context: later calls answer -6 (or -2 after a failed
  // initialisation).
  void dropJndContext();

  // State views for tests and reports.
  bool libraryError() const { return library_error_.load(); }
  bool initialised() const { return initialised_.load(); }
  std::shared_ptr<jnd::JndNetContext> context() const;
  jnd::JndBackend backend() const { return backend_; }
  int cpuThreads() const { return cpu_threads_; }
  // Once after the CPU backend initialised successfully: what it set up;
  // false otherwise (OpenCL backend, not initialised, failed, or already
  // taken).
  bool takeCpuSetup(CpuSetup* setup);

 private:
  const jnd::JndBackend backend_;
  const int cpu_threads_;
  std::shared_ptr<jnd::JndNetContext> jnd_context_;
  std::atomic<bool> busy_{false};
  std::atomic<bool> library_error_{false};
  std::atomic<bool> initialised_{false};
  // Written before cpu_setup_ready_ is set; read by whoever clears it.
  CpuSetup cpu_setup_;
  std::atomic<bool> cpu_setup_ready_{false};
  // Held (never waited for) by whichever call uses the JND context, so two
  // runs of it never overlap.
  std::mutex context_use_;
  int32_t last_width_ = 0;
  int32_t last_height_ = 0;
  int32_t last_stride_ = 0;
  int32_t last_model_ = 0;
};

}  // namespace pvc
