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

class PvcWorker {
 public:
  PvcWorker();
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

 private:
  std::shared_ptr<jnd::JndNetContext> jnd_context_;
  std::atomic<bool> busy_{false};
  std::atomic<bool> library_error_{false};
  std::atomic<bool> initialised_{false};
  // Held (never waited for) by whichever call uses the JND context, so two
  // runs of it never overlap.
  std::mutex context_use_;
  int32_t last_width_ = 0;
  int32_t last_height_ = 0;
  int32_t last_stride_ = 0;
  int32_t last_model_ = 0;
};

}  // namespace pvc
