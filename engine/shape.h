// Shape arithmetic shared by the layer types, in 64-bit so that no
// parameter value can overflow it.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

// Sliding-window extent: (in + pad0 + pad1 - (kernel - 1) * dilation - 1)
// / stride + 1.  Null on success, else the reason.
const char* sliding_window(int64_t in, int64_t pad0, int64_t pad1, int64_t kernel,
                           int64_t stride, int64_t dilation, int64_t* out);

// Sliding-window parameters shared by convolutions and pooling, read from
// params 0..9: kernel w, h; pads w0, w1, h0, h1; strides w, h; dilations
// w, h (values below 1 mean 1).
struct WindowParams {
  int32_t kernel_w = 0, kernel_h = 0;
  int32_t pad_w0 = 0, pad_w1 = 0, pad_h0 = 0, pad_h1 = 0;
  int32_t stride_w = 0, stride_h = 0;
  int32_t dilation_w = 1, dilation_h = 1;

  void read_window(const int32_t* params);
};

// Configuration key of a windowed layer: "KHxKW[_sSHxSW]_OCxOHxOWxIC".
std::string window_config_key(int kernel_h, int kernel_w, int stride_h, int stride_w,
                              int out_c, int out_h, int out_w, int in_c);

extern const char* const kErrStride;          // "stride below 1"
extern const char* const kErrKernel;          // "kernel below 1"
extern const char* const kErrNegativePad;     // "negative padding"
extern const char* const kErrKernelTooLarge;  // "kernel larger than the padded input"
extern const char* const kErrNoWeight;        // "weight tensor missing"
extern const char* const kErrWeightShape;     // "weight dimensions disagree with the layer"
extern const char* const kErrBias;            // "bias smaller than the output channels"
extern const char* const kErrInputsDisagree;  // "inputs disagree in n, h or w"

}  // namespace engine
