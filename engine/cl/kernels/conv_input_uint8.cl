// Convolutions (dilation 1) whose input is the network's 8-bit NHWC
// buffer: channel k of a byte b is read as (b - mean_k) * scale_k
// (channels past 2 take the third pair).  Weights are the layout-6 texels
// flattened into a constant half buffer (value q of texel (x, y) at
// ((y * kw * in_c + x) * 4 + q)), bias a constant half buffer padded to
// whole channel groups.  Work item: channel group ob, pixels 4 * xg ..
// 4 * xg + 3 of row y.  Global size ceil(out_c / 4), ceil(out_w / 4), out_h.
#ifndef ENGINE_CONV_INPUT_UINT8_CL
#define ENGINE_CONV_INPUT_UINT8_CL

inline float byte_input_value(__global const uchar *input, int index, int k, float mean0,
                              float mean1, float mean2, float scale0, float scale1,
                              float scale2) {
  const float b = (float)input[index];
  if (k == 0) return (b - mean0) * scale0;
  if (k == 1) return (b - mean1) * scale1;
  return (b - mean2) * scale2;
}

// One input channel's value at four output pixels spaced by the stride;
// pixels outside the input (or past the output) give zero.
#define BYTE_INPUT_ROW4(in0, in1, in2, in3, row_base, ix, ic)                                \
  {                                                                                          \
    int px = (ix);                                                                           \
    in0 = (row_ok && px >= 0 && px < in_w)                                                   \
              ? byte_input_value(input, (row_base) + px * in_channels + (ic), (ic), mean0,    \
                                 mean1, mean2, scale0, scale1, scale2)                        \
              : 0.0f;                                                                        \
    px += stride_w;                                                                          \
    in1 = (row_ok && px >= 0 && px < in_w && x0 + 1 < out_w)                                 \
              ? byte_input_value(input, (row_base) + px * in_channels + (ic), (ic), mean0,    \
                                 mean1, mean2, scale0, scale1, scale2)                        \
              : 0.0f;                                                                        \
    px += stride_w;                                                                          \
    in2 = (row_ok && px >= 0 && px < in_w && x0 + 2 < out_w)                                 \
              ? byte_input_value(input, (row_base) + px * in_channels + (ic), (ic), mean0,    \
                                 mean1, mean2, scale0, scale1, scale2)                        \
              : 0.0f;                                                                        \
    px += stride_w;                                                                          \
    in3 = (row_ok && px >= 0 && px < in_w && x0 + 3 < out_w)                                 \
              ? byte_input_value(input, (row_base) + px * in_channels + (ic), (ic), mean0,    \
                                 mean1, mean2, scale0, scale1, scale2)                        \
              : 0.0f;                                                                        \
  }

#endif  // ENGINE_CONV_INPUT_UINT8_CL

__kernel void KERNEL_NAME(conv_input_uint8)(
    __global const uchar *input, OUTPUT_MEM_TYPE output,
    __constant half *weight __ATTRIBUTE_MAX_CONSANT_SIZE_(65536),
    __constant half *bias __ATTRIBUTE_MAX_CONSANT_SIZE_(4096),
    __private const short in_channels, __private const short out_channels,
    __private const short out_w, __private const short out_h, __private const short kernel_w,
    __private const short kernel_h, __private const short pad_l, __private const short pad_t,
    __private const short stride_w, __private const short stride_h, __private const short in_w,
    __private const short in_h, __private const float mean0, __private const float mean1,
    __private const float mean2, __private const float scale0, __private const float scale1,
    __private const float scale2, __private const short activation_flag) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x0 = get_global_id(1) << 2;
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x0 >= out_w || y >= out_h) return;

  const int weight_width = kernel_w * in_channels;
  float4 acc0 = vload_half4(ob, bias);
  float4 acc1 = acc0, acc2 = acc0, acc3 = acc0;
  for (int i = 0; i < kernel_h; ++i) {
    const int iy = y * stride_h + i - pad_t;
    const bool row_ok = iy >= 0 && iy < in_h;
    const int row_base = iy * in_w * in_channels;
    const int wy = ob * kernel_h + i;
    for (int j = 0; j < kernel_w; ++j) {
      const int ix = x0 * stride_w + j - pad_l;
      for (int ic = 0; ic < in_channels; ++ic) {
        const float4 w = vload_half4(wy * weight_width + j * in_channels + ic, weight);
        float in0, in1, in2, in3;
        BYTE_INPUT_ROW4(in0, in1, in2, in3, row_base, ix, ic);
        acc0 = mad((float4)in0, w, acc0);
        acc1 = mad((float4)in1, w, acc1);
        acc2 = mad((float4)in2, w, acc2);
        acc3 = mad((float4)in3, w, acc3);
      }
    }
  }
  DATA_TYPE4 out0 = CONVERT4(acc0), out1 = CONVERT4(acc1), out2 = CONVERT4(acc2),
             out3 = CONVERT4(acc3);
  ACTIVATE4(activation_flag, out0, out1, out2, out3);
  OUTPUT_X4_FUNC(output, out0, out1, out2, out3, out_channels, out_w, ob, x0, y);
}

// 3x3, stride 2, padding 1 on an input of exactly twice the output's
// extent (in_w = 2 out_w, in_h = 2 out_h), with 1 or 3 input channels and
// output channels a multiple of 4.
__kernel void KERNEL_NAME(conv3x3_s2x2_input_uint8)(
    __global const uchar *input, OUTPUT_MEM_TYPE output,
    __constant half *weight __ATTRIBUTE_MAX_CONSANT_SIZE_(65536),
    __constant half *bias __ATTRIBUTE_MAX_CONSANT_SIZE_(4096),
    __private const short in_channels, __private const short out_channels,
    __private const short out_w, __private const short out_h, __private const float mean0,
    __private const float mean1, __private const float mean2, __private const float scale0,
    __private const float scale1, __private const float scale2,
    __private const short activation_flag) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x0 = get_global_id(1) << 2;
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x0 >= out_w || y >= out_h) return;

  const int in_w = out_w << 1;
  const int in_h = out_h << 1;
  const int stride_w = 2;
  const int weight_width = 3 * in_channels;
  float4 acc0 = vload_half4(ob, bias);
  float4 acc1 = acc0, acc2 = acc0, acc3 = acc0;
  for (int i = 0; i < 3; ++i) {
    const int iy = (y << 1) + i - 1;
    const bool row_ok = iy >= 0 && iy < in_h;
    const int row_base = iy * in_w * in_channels;
    const int wy = ob * 3 + i;
    for (int j = 0; j < 3; ++j) {
      const int ix = (x0 << 1) + j - 1;
      for (int ic = 0; ic < in_channels; ++ic) {
        const float4 w = vload_half4(wy * weight_width + j * in_channels + ic, weight);
        float in0, in1, in2, in3;
        BYTE_INPUT_ROW4(in0, in1, in2, in3, row_base, ix, ic);
        acc0 = mad((float4)in0, w, acc0);
        acc1 = mad((float4)in1, w, acc1);
        acc2 = mad((float4)in2, w, acc2);
        acc3 = mad((float4)in3, w, acc3);
      }
    }
  }
  DATA_TYPE4 out0 = CONVERT4(acc0), out1 = CONVERT4(acc1), out2 = CONVERT4(acc2),
             out3 = CONVERT4(acc3);
  ACTIVATE4(activation_flag, out0, out1, out2, out3);
  OUTPUT_X4_FUNC(output, out0, out1, out2, out3, out_channels, out_w, ob, x0, y);
}
