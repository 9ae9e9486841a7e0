// Repacking of a weight set into the per-layer arrays the kernels read:
// tap-major 4-vectors, activation scaling, optional half conversion.  Pure
// functions of the set and the device facts.
#pragma once

#include <cstdint>
#include <vector>

#include "jnd/jnd_weights.h"

namespace jnd {

constexpr int kPackedConv1Values = 40;
constexpr int kPackedConv2Values = 148;
constexpr int kPackedConv3Values = 40;

// What the packing depends on.
struct JndPackingMode {
  bool quantised = false;
  // The kernels write conv1/conv2 results into 8-bit buffers themselves
  // (Qualcomm devices, or buffer output in use): activations are scaled by
  // 255 on top of s1/s2.
  bool bufferWrites = false;
  bool fp16 = false;  // upload IEEE half values instead of floats
  float s1 = 1.0f;    // conv1 output scale
  float s2 = 1.0f;    // conv2 output scale
};

struct JndPackedFloats {
  std::vector<float> conv1, conv2, conv3;
};

struct JndPackedBytes {
  std::vector<uint8_t> conv1, conv2, conv3;
};

// Scale factors of each layer's weights and biases for a mode.
struct JndLayerFactors {
  float conv1Weights, conv1Bias, conv2Weights, conv2Bias, conv3Weights, conv3Bias;
};
JndLayerFactors FactorsFor(const JndPackingMode& mode);

JndPackedFloats PackJndWeights(const JNDNetWeights& weights, const JndPackingMode& mode);
// The device bytes: floats, or halves (truncating) when mode.fp16.
JndPackedBytes ToDeviceBytes(const JndPackedFloats& packed, const JndPackingMode& mode);

}  // namespace jnd
