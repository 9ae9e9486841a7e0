#include "jnd/jnd_program.h"

#include "opencl/cl_prelude.h"

namespace jnd {

namespace {

const char kHelpers[] =
#include "jnd_helpers_cl.inc"
    ;
const char kGenericConv1[] =
#include "jnd_generic_conv1_cl.inc"
    ;
const char kImaginationConv1[] =
#include "jnd_imagination_conv1_cl.inc"
    ;
const char kConv2Conv3[] =
#include "jnd_conv2_conv3_cl.inc"
    ;
const char kQualcomm[] =
#include "jnd_qualcomm_cl.inc"
    ;

const char kQuantOn[] = "\r\n #define QUANT 1 \r\n";
const char kQuantOff[] = "\r\n #define QUANT 0 \r\n";
const char kBufferOut[] = "\r\n #define USE_BUFFER_OUT \r\n";
const char kCrlf[] = "\r\n";

}  // namespace

JndVariant VariantForVendor(int vendor) {
  if (vendor == 7) return JndVariant::kQualcomm;
  if (vendor == 8) return JndVariant::kImagination;
  return JndVariant::kGeneric;
}

const std::string& JndVariantSource(JndVariant variant) {
  static const std::string generic = std::string(kHelpers) + kGenericConv1 + kConv2Conv3;
  static const std::string imagination = std::string(kHelpers) + kImaginationConv1 + kConv2Conv3;
  static const std::string qualcomm = std::string(kHelpers) + kQualcomm;
  switch (variant) {
    case JndVariant::kQualcomm:
      return qualcomm;
    case JndVariant::kImagination:
      return imagination;
    default:
      return generic;
  }
}

std::string AssembleJndProgram(JndVariant variant, bool quantised, bool bufferOut) {
  std::string text = quantised ? kQuantOn : kQuantOff;
  if (bufferOut && variant != JndVariant::kQualcomm) text += kBufferOut;
  text.append(opencl::ClPreludeText(), opencl::ClPreludeLength());
  text += kCrlf;
  text += JndVariantSource(variant);
  text += kCrlf;
  text += "__kernel void jnd_kernel_version_" + std::to_string(kJndKernelVersion) +
          "(__global float *a) { } \r\n";
  return text;
}

}  // namespace jnd
