// The JND network's weight sets: stored layout and the record through
// which one set is handed to the filter.
#pragma once

namespace jnd {

// Network shape: 3x3 convolutions 1 -> 4 -> 4 -> 1 channels.
constexpr int kConv1Weights = 36;
constexpr int kConv2Weights = 144;
constexpr int kConv3Weights = 36;
constexpr int kHiddenChannels = 4;

// One trained set in stored order: weights [out][in][ky][kx] (ky = 0 is the
// row above, kx = 0 the column to the left), one bias per output channel.
// conv3 has a single bias; only conv3Bias[0] is read.
struct JndWeightSetData {
  float conv1Weights[kConv1Weights];
  float conv1Bias[kHiddenChannels];
  float conv2Weights[kConv2Weights];
  float conv2Bias[kHiddenChannels];
  float conv3Weights[kConv3Weights];
  float conv3Bias[4];
};

// The six pointers through which a set reaches the filter; the record
// does not own the data.
struct JNDNetWeights {
  const float* conv1Weights;  // 36
  const float* conv1Bias;     // 4
  const float* conv2Weights;  // 144
  const float* conv2Bias;     // 4
  const float* conv3Weights;  // 36
  const float* conv3Bias;     // 1
};

inline JNDNetWeights WeightsOf(const JndWeightSetData& set) {
  return {set.conv1Weights, set.conv1Bias, set.conv2Weights,
          set.conv2Bias,    set.conv3Weights, set.conv3Bias};
}

// Shipped sets, ids 1 to 4.  Set 2 ("_paras27") is the default; set 3 is
// the set an unconfigured perceptual filter asks for.
extern const JndWeightSetData kJndWeightSet1;
extern const JndWeightSetData kJndWeightSet2;
extern const JndWeightSetData kJndWeightSet3;
extern const JndWeightSetData kJndWeightSet4;

// The set with the given id, or null for ids outside 1..4.
const JndWeightSetData* ShippedWeightSet(int id);

}  // namespace jnd
