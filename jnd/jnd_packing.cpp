#include "jnd/jnd_packing.h"

#include <cstring>

#include "opencl/half.h"

namespace jnd {

namespace {

// Appends stored weights [oc][ic][ky][kx] in tap-major order
// (ky, kx, ic, oc), scaled.
void AppendTapMajor(const float* stored, int in_channels, int out_channels, float factor,
                    std::vector<float>* out) {
  for (int ky = 0; ky < 3; ++ky)
    for (int kx = 0; kx < 3; ++kx)
      for (int ic = 0; ic < in_channels; ++ic)
        for (int oc = 0; oc < out_channels; ++oc)
          out->push_back(stored[((oc * in_channels + ic) * 3 + ky) * 3 + kx] * factor);
}

std::vector<uint8_t> Bytes(const std::vector<float>& values, bool fp16) {
  std::vector<uint8_t> out;
  if (fp16) {
    std::vector<uint16_t> halves(values.size());
    opencl::FloatToHalf(values.data(), halves.data(), values.size());
    out.resize(halves.size() * sizeof(uint16_t));
    std::memcpy(out.data(), halves.data(), out.size());
  } else {
    out.resize(values.size() * sizeof(float));
    std::memcpy(out.data(), values.data(), out.size());
  }
  return out;
}

}  // namespace

JndLayerFactors FactorsFor(const JndPackingMode& m) {
  const float k = (m.quantised && m.bufferWrites) ? 255.0f : 1.0f;
  return {m.s1 * k, m.s1 * k, m.s2 * k / m.s1, m.s2 * k, 1.0f / m.s2, 1.0f};
}

JndPackedFloats PackJndWeights(const JNDNetWeights& w, const JndPackingMode& mode) {
  const JndLayerFactors f = FactorsFor(mode);
  JndPackedFloats p;
  p.conv1.reserve(kPackedConv1Values);
  AppendTapMajor(w.conv1Weights, 1, 4, f.conv1Weights, &p.conv1);
  for (int oc = 0; oc < 4; ++oc) p.conv1.push_back(w.conv1Bias[oc] * f.conv1Bias);
  p.conv2.reserve(kPackedConv2Values);
  AppendTapMajor(w.conv2Weights, 4, 4, f.conv2Weights, &p.conv2);
  for (int oc = 0; oc < 4; ++oc) p.conv2.push_back(w.conv2Bias[oc] * f.conv2Bias);
  p.conv3.reserve(kPackedConv3Values);
  AppendTapMajor(w.conv3Weights, 4, 1, f.conv3Weights, &p.conv3);
  for (int i = 0; i < 4; ++i) p.conv3.push_back(w.conv3Bias[0] * f.conv3Bias);
  return p;
}

JndPackedBytes ToDeviceBytes(const JndPackedFloats& packed, const JndPackingMode& mode) {
  return {Bytes(packed.conv1, mode.fp16), Bytes(packed.conv2, mode.fp16),
          Bytes(packed.conv3, mode.fp16)};
}

}  // namespace jnd
