#include "jnd/jnd_program.h"

#include <vector>

#include "jnd_kernel_texts.h"
#include "opencl/cl_engine.h"
#include "opencl/cl_prelude.h"

namespace jnd {

namespace {

using A = JndArg;

// Argument lists; unlisted positions end a list (kEnd is zero).
constexpr JndArgList kConv1FromBuffer = {
    {A::kInputBuffer, A::kInter1Written, A::kWeights, A::kWidth, A::kHeight, A::kStride,
     A::kInter1Row}};
constexpr JndArgList kConv1FromTexels = {
    {A::kInputImage, A::kInter1Written, A::kWeights, A::kWidth, A::kHeight, A::kInter1Row}};
constexpr JndArgList kConv2 = {
    {A::kInter1Image, A::kInter2Written, A::kWeights, A::kWidth, A::kHeight, A::kInter2Row}};
constexpr JndArgList kConv3 = {
    {A::kInter2Image, A::kOutputBuffer, A::kWeights, A::kWidth, A::kHeight, A::kStride}};

// One row per variant; the first is the default.
constexpr JndVariantDesc kVariants[] = {
    {JndVariant::kGeneric,
     opencl::kVendorUnknown,
     {"jnd_helpers", "jnd_generic_conv1", "jnd_conv2_conv3"},
     JndInputForm::kBuffer,
     false,
     {kConv1FromBuffer, kConv2, kConv3},
     {{4, 1}, {2, 2}, {2, 2}},
     {0, 0}},
    {JndVariant::kQualcomm,
     opencl::kVendorQualcomm,
     {"jnd_helpers", "jnd_qualcomm"},
     JndInputForm::kTexelImage,
     true,
     {kConv1FromTexels, kConv2, kConv3},
     {{4, 1}, {2, 2}, {1, 4}},
     {0, 0}},
    {JndVariant::kImagination,
     opencl::kVendorImagination,
     {"jnd_helpers", "jnd_imagination_conv1", "jnd_conv2_conv3"},
     JndInputForm::kBuffer,
     false,
     {kConv1FromBuffer, kConv2, kConv3},
     {{1, 1}, {2, 2}, {2, 2}},
     {8, 4}},
};

constexpr bool EverySourceEmbedded() {
  for (const JndVariantDesc& v : kVariants) {
    for (const char* name : v.sources) {
      if (name != nullptr && opencl::FindEmbeddedText(kJndKernelTexts, name) == nullptr) return false;
    }
  }
  return true;
}
static_assert(EverySourceEmbedded(), "a JND variant names a file missing from jnd/kernels");

constexpr bool EveryKernelTakesItsWeights() {
  for (const JndVariantDesc& v : kVariants) {
    for (const JndArgList& args : v.args) {
      int weights = 0;
      for (JndArg a : args.at) weights += a == JndArg::kWeights ? 1 : 0;
      if (weights != 1) return false;
    }
  }
  return true;
}
static_assert(EveryKernelTakesItsWeights(), "each JND kernel takes its weight buffer once");

const char kQuantOn[] = "\r\n #define QUANT 1 \r\n";
const char kQuantOff[] = "\r\n #define QUANT 0 \r\n";
const char kBufferOut[] = "\r\n #define USE_BUFFER_OUT \r\n";
const char kCrlf[] = "\r\n";

}  // namespace

const JndVariantDesc& VariantDesc(JndVariant variant) {
  for (const JndVariantDesc& v : kVariants) {
    if (v.variant == variant) return v;
  }
  return kVariants[0];
}

JndVariant VariantForVendor(int vendor) {
  for (const JndVariantDesc& v : kVariants) {
    if (v.vendor != opencl::kVendorUnknown && v.vendor == vendor) return v.variant;
  }
  return kVariants[0].variant;
}

int ArgIndex(const JndVariantDesc& desc, int kernel, JndArg arg) {
  for (int i = 0; i < kJndMaxArgs && desc.args[kernel].at[i] != JndArg::kEnd; ++i) {
    if (desc.args[kernel].at[i] == arg) return i;
  }
  return -1;
}

const std::string& JndVariantSource(JndVariant variant) {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> joined;
    for (const JndVariantDesc& v : kVariants) {
      joined.emplace_back();
      for (const char* name : v.sources) {
        if (name != nullptr) joined.back() += opencl::FindEmbeddedText(kJndKernelTexts, name);
      }
    }
    return joined;
  }();
  return texts[static_cast<size_t>(&VariantDesc(variant) - kVariants)];
}

std::string AssembleJndProgram(JndVariant variant, bool quantised, bool bufferOut) {
  std::string text = quantised ? kQuantOn : kQuantOff;
  if (bufferOut && !VariantDesc(variant).writesBuffers) text += kBufferOut;
  text.append(opencl::ClPreludeText(), opencl::ClPreludeLength());
  text += kCrlf;
  text += JndVariantSource(variant);
  text += kCrlf;
  text += "__kernel void jnd_kernel_version_" + std::to_string(kJndKernelVersion) +
          "(__global float *a) { } \r\n";
  return text;
}

}  // namespace jnd
