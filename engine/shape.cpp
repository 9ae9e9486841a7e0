#include "engine/shape.h"

#include <cstdio>

namespace engine {

void WindowParams::read_window(const int32_t* p) {
  kernel_w = p[0];
  kernel_h = p[1];
  pad_w0 = p[2];
  pad_w1 = p[3];
  pad_h0 = p[4];
  pad_h1 = p[5];
  stride_w = p[6];
  stride_h = p[7];
  dilation_w = p[8] < 1 ? 1 : p[8];
  dilation_h = p[9] < 1 ? 1 : p[9];
}

const char* const kErrStride = "stride below 1";
const char* const kErrKernel = "kernel below 1";
const char* const kErrNegativePad = "negative padding";
const char* const kErrKernelTooLarge = "kernel larger than the padded input";
const char* const kErrNoWeight = "weight tensor missing";
const char* const kErrWeightShape = "weight dimensions disagree with the layer";
const char* const kErrBias = "bias smaller than the output channels";
const char* const kErrInputsDisagree = "inputs disagree in n, h or w";

const char* sliding_window(int64_t in, int64_t pad0, int64_t pad1, int64_t kernel,
                           int64_t stride, int64_t dilation, int64_t* out) {
  if (stride < 1) return kErrStride;
  if (kernel < 1) return kErrKernel;
  if (pad0 < 0 || pad1 < 0) return kErrNegativePad;
  if (dilation < 1) dilation = 1;
  const int64_t span = (kernel - 1) * dilation + 1;
  const int64_t padded = in + pad0 + pad1;
  if (span > padded) return kErrKernelTooLarge;
  *out = (padded - span) / stride + 1;
  return nullptr;
}

std::string window_config_key(int kernel_h, int kernel_w, int stride_h, int stride_w,
                              int out_c, int out_h, int out_w, int in_c) {
  char key[160];
  int n = std::snprintf(key, sizeof key, "%dx%d", kernel_h, kernel_w);
  if (!(kernel_h == 1 && kernel_w == 1))
    n += std::snprintf(key + n, sizeof key - n, "_s%dx%d", stride_h, stride_w);
  std::snprintf(key + n, sizeof key - n, "_%dx%dx%dx%d", out_c, out_h, out_w, in_c);
  return key;
}

}  // namespace engine
