// Generic convolution: any kernel size, padding, stride and dilation.
// Input image in layout 0, weights in layout 6 (x = j * in_c + ic,
// y = ob * kh + i), bias a half buffer padded to whole channel groups.
// Work item: channel group ob, pixels 4 * xg .. 4 * xg + 3 of row y.
// Global size ceil(out_c / 4), ceil(out_w / 4), out_h.

// The weight texels of input channels ic0 .. ic0 + 3 at tap column
// wx0 = j * in_c + ic0, zero past in_c.
#define CONV_LOAD_WEIGHTS(w0, w1, w2, w3, wx0, wy, width, remaining) \
  w0 = WEIGHT_READ4(weight, (wx0), (wy), (width)); \
  w1 = (remaining) > 1 ? WEIGHT_READ4(weight, (wx0) + 1, (wy), (width)) : (DATA_TYPE4)0; \
  w2 = (remaining) > 2 ? WEIGHT_READ4(weight, (wx0) + 2, (wy), (width)) : (DATA_TYPE4)0; \
  w3 = (remaining) > 3 ? WEIGHT_READ4(weight, (wx0) + 3, (wy), (width)) : (DATA_TYPE4)0

__kernel void KERNEL_NAME(conv)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                WEIGHT_MEM_TYPE weight, __global const half *bias,
                                __private const short in_channels,
                                __private const short out_channels,
                                __private const short out_w, __private const short in_h,
                                __private const short kernel_w, __private const short kernel_h,
                                __private const short pad_l, __private const short pad_t,
                                __private const short stride_w, __private const short stride_h,
                                __private const short dilation_w,
                                __private const short dilation_h,
                                __private const short activation_flag) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x0 = get_global_id(1) << 2;
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x0 >= out_w) return;

  const int in_blocks = (in_channels + 3) >> 2;
  const int weight_width = kernel_w * in_channels;
  DATA_TYPE4 acc0 = VLD4(ob, bias);
  DATA_TYPE4 acc1 = acc0, acc2 = acc0, acc3 = acc0;
  DATA_TYPE4 w0, w1, w2, w3;
  for (int i = 0; i < kernel_h; ++i) {
    int row = y * stride_h + i * dilation_h - pad_t;
    row = (row >= 0 && row < in_h) ? row : -1;
    const int wy = ob * kernel_h + i;
    for (int j = 0; j < kernel_w; ++j) {
      const int ix = x0 * stride_w + j * dilation_w - pad_l;
      for (int cb = 0; cb < in_blocks; ++cb) {
        const int ic0 = cb << 2;
        CONV_LOAD_WEIGHTS(w0, w1, w2, w3, j * in_channels + ic0, wy, weight_width,
                          in_channels - ic0);
        const DATA_TYPE4 in0 = read_pixel_block(input, ix, row, in_blocks, cb);
        const DATA_TYPE4 in1 = read_pixel_block(input, ix + stride_w, row, in_blocks, cb);
        const DATA_TYPE4 in2 = read_pixel_block(input, ix + 2 * stride_w, row, in_blocks, cb);
        const DATA_TYPE4 in3 = read_pixel_block(input, ix + 3 * stride_w, row, in_blocks, cb);
        MAC4x4(acc0, in0, w0, w1, w2, w3);
        MAC4x4(acc1, in1, w0, w1, w2, w3);
        MAC4x4(acc2, in2, w0, w1, w2, w3);
        MAC4x4(acc3, in3, w0, w1, w2, w3);
      }
    }
  }
  ACTIVATE4(activation_flag, acc0, acc1, acc2, acc3);
  OUTPUT_X4_FUNC(output, acc0, acc1, acc2, acc3, out_channels, out_w, ob, x0, y);
}

// The same for exactly three input channels (one texel per pixel).
__kernel void KERNEL_NAME(conv_c3)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                   WEIGHT_MEM_TYPE weight, __global const half *bias,
                                   __private const short in_channels,
                                   __private const short out_channels,
                                   __private const short out_w, __private const short in_h,
                                   __private const short kernel_w,
                                   __private const short kernel_h,
                                   __private const short pad_l, __private const short pad_t,
                                   __private const short stride_w,
                                   __private const short stride_h,
                                   __private const short dilation_w,
                                   __private const short dilation_h,
                                   __private const short activation_flag) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x0 = get_global_id(1) << 2;
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x0 >= out_w) return;

  const int weight_width = kernel_w * 3;
  DATA_TYPE4 acc0 = VLD4(ob, bias);
  DATA_TYPE4 acc1 = acc0, acc2 = acc0, acc3 = acc0;
  for (int i = 0; i < kernel_h; ++i) {
    int row = y * stride_h + i * dilation_h - pad_t;
    row = (row >= 0 && row < in_h) ? row : -1;
    const int wy = ob * kernel_h + i;
    for (int j = 0; j < kernel_w; ++j) {
      const int ix = x0 * stride_w + j * dilation_w - pad_l;
      const DATA_TYPE4 w0 = WEIGHT_READ4(weight, j * 3, wy, weight_width);
      const DATA_TYPE4 w1 = WEIGHT_READ4(weight, j * 3 + 1, wy, weight_width);
      const DATA_TYPE4 w2 = WEIGHT_READ4(weight, j * 3 + 2, wy, weight_width);
      const DATA_TYPE4 in0 = read_pixel_block(input, ix, row, 1, 0);
      const DATA_TYPE4 in1 = read_pixel_block(input, ix + stride_w, row, 1, 0);
      const DATA_TYPE4 in2 = read_pixel_block(input, ix + 2 * stride_w, row, 1, 0);
      const DATA_TYPE4 in3 = read_pixel_block(input, ix + 3 * stride_w, row, 1, 0);
      MAC4x4(acc0, in0, w0, w1, w2, (DATA_TYPE4)0);
      MAC4x4(acc1, in1, w0, w1, w2, (DATA_TYPE4)0);
      MAC4x4(acc2, in2, w0, w1, w2, (DATA_TYPE4)0);
      MAC4x4(acc3, in3, w0, w1, w2, (DATA_TYPE4)0);
    }
  }
  ACTIVATE4(activation_flag, acc0, acc1, acc2, acc3);
  OUTPUT_X4_FUNC(output, acc0, acc1, acc2, acc3, out_channels, out_w, ob, x0, y);
}
