#include "jnd/jnd_net_context.h"

#include <cstdio>

namespace jnd {

namespace {
constexpr char kInvalidId[] = "invalid JNDNetWeights ID,set to _paras27\n";
constexpr char kUpdateFailed[] = "update net paras failed, pls check\n";
}  // namespace

JndNetContext::JndNetContext(JndBackend backend, int cpuThreads)
    : backend_(backend),
      cpu_threads_(cpuThreads),
      sets_{WeightsOf(kJndWeightSet1), WeightsOf(kJndWeightSet2), WeightsOf(kJndWeightSet3),
            WeightsOf(kJndWeightSet4)} {
  if (backend == JndBackend::kCpu) {
    auto cpu = std::make_shared<JndFilterCpu>();
    cpu_ = cpu.get();
    filter_ = std::move(cpu);
  } else {
    auto cl = std::make_shared<JndFilterCL>();
    opencl_ = cl.get();
    filter_ = std::move(cl);
  }
}

bool JndNetContext::init(bool quantised) {
  const JNDNetWeights& initial = sets_[kDefaultWeightsId - 1];
  // The CPU backend always computes the quantised network.
  if (cpu_ != nullptr) return cpu_->initialise(initial, cpu_threads_);
  return opencl_->initialise(initial, std::string(), 0, 0, {}, quantised);
}

bool JndNetContext::run(const uint8_t* src, uint8_t* dst, int width, int height, int stride,
                        int weightsId) {
  if (weightsId != current_id_) {
    current_id_ = weightsId;  // stored first: a bad id is reported once per change
    int chosen = weightsId;
    if (chosen < 1 || chosen > 4) {
      std::printf(kInvalidId);
      chosen = kDefaultWeightsId;
    }
    if (!filter_->update_net_paras(sets_[chosen - 1])) {
      std::printf(kUpdateFailed);
      return false;
    }
  }
  return filter_->process(src, dst, width, height, stride, true);
}

}  // namespace jnd
