#include "jnd/jnd_net_context.h"

#include <cstdio>

namespace jnd {

namespace {
constexpr char kInvalidId[] = "invalid JNDNetWeights ID,set to _paras27\n";
constexpr char kUpdateFailed[] = "update net paras failed, pls check\n";
}  // namespace

JndNetContext::JndNetContext()
    : filter_(std::make_shared<JndFilterCL>()),
      sets_{WeightsOf(kJndWeightSet1), WeightsOf(kJndWeightSet2), WeightsOf(kJndWeightSet3),
            WeightsOf(kJndWeightSet4)} {}

bool JndNetContext::init(bool quantised) {
  return filter_->initialise(sets_[kDefaultWeightsId - 1], std::string(), 0, 0, {}, quantised);
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
