#include "pvc/pvc_worker.h"

#include <memory>
#include <vector>

namespace pvc {

namespace {

// Clears a busy flag when its scope ends, by a return or by an exception
// (an allocation failure), so the next frame can try again.
struct ClearOnExit {
  std::atomic<bool>& flag;
  ~ClearOnExit() { flag.exchange(false); }
};

}  // namespace

PvcWorker::PvcWorker() : PvcWorker(jnd::JndBackend::kOpenCL, 1) {}

PvcWorker::PvcWorker(jnd::JndBackend backend, int cpuThreads)
    : backend_(backend),
      cpu_threads_(cpuThreads),
      jnd_context_(std::make_shared<jnd::JndNetContext>(backend, cpuThreads)) {}

PvcWorker::~PvcWorker() { dropJndContext(); }

bool PvcWorker::isResolutionSupported(int width, int height, int config) {
  (void)config;
  if (width < height) return width <= kMaxLandscapeHeight && height <= kMaxLandscapeWidth;
  return width <= kMaxLandscapeWidth && height <= kMaxLandscapeHeight;
}

std::shared_ptr<jnd::JndNetContext> PvcWorker::context() const {
  return std::atomic_load(&jnd_context_);
}

bool PvcWorker::takeCpuSetup(CpuSetup* setup) {
  if (!cpu_setup_ready_.exchange(false)) return false;
  *setup = cpu_setup_;
  return true;
}

void PvcWorker::dropJndContext() {
  std::atomic_store(&jnd_context_, std::shared_ptr<jnd::JndNetContext>());
}

int PvcWorker::process(const host::FrameDataRecord* record, int modelId) {
  if (static_cast<unsigned>(modelId) > 4u) return kWorkerBadModel;
  if (library_error_.load()) return kWorkerLibraryError;
  // A call that finds the context dropped meanwhile still finishes with the
  // copy it holds.
  const std::shared_ptr<jnd::JndNetContext> context = std::atomic_load(&jnd_context_);
  if (!context) return kWorkerProcessError;

  if (!initialised_.load()) {
    if (busy_.exchange(true)) return kWorkerInitialising;
    const ClearOnExit not_busy{busy_};
    std::unique_lock<std::mutex> lock(context_use_, std::try_to_lock);
    if (!lock.owns_lock() || initialised_.load()) return kWorkerInitialising;
    if (!context->init(true)) {
      library_error_.exchange(true);
    } else if (const jnd::JndFilterCpu* cpu = context->cpuFilter()) {
      cpu_setup_.path = cpu->path().name;
      cpu_setup_.threads = cpu->threads();
      cpu_setup_ready_.exchange(true);
    }
    initialised_.exchange(true);
    return kWorkerInitialising;
  }

  if (record == nullptr || record->luma == nullptr) return kWorkerProcessError;
  uint8_t* plane = record->luma;
  const int width = record->width;
  const int height = record->height;
  if (busy_.load()) return kWorkerBusy;

  std::unique_lock<std::mutex> lock(context_use_, std::try_to_lock);
  if (!lock.owns_lock()) return kWorkerBusy;
  if (height == last_height_ && width == last_width_ && width == last_stride_ &&
      modelId == last_model_) {
    return context->run(plane, plane, width, height, width, modelId) ? kWorkerFiltered
                                                                     : kWorkerProcessError;
  }

  // Warm-up on a scratch plane: switches the weight set, allocates device
  // memory for the geometry and applies the work sizes.
  busy_.exchange(true);
  const ClearOnExit not_busy{busy_};
  if (width > 0 && height > 0) {
    std::unique_ptr<uint8_t[]> scratch(
        new uint8_t[static_cast<size_t>(width) * static_cast<size_t>(height)]);
    context->run(scratch.get(), scratch.get(), width, height, width, modelId);
  } else {
    context->run(nullptr, nullptr, width, height, width, modelId);
  }
  last_height_ = height;
  last_width_ = width;
  last_stride_ = width;
  last_model_ = modelId;
  return kWorkerWarmUp;
}

}  // namespace pvc
