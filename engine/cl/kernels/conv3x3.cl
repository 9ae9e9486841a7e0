// 3x3 convolution, stride 1, dilation 1, input channels a multiple of 4.
// Input image in layout 0, weights in layout 13 (x = ic * 3 + j,
// y = ob * 3 + i), bias a half buffer.  The padding follows from the
// extents: (out_w - in_w + 2) / 2 on both axes, so 1 when the output keeps
// the input's size and 0 when it loses two pixels.
// Work item: channel group ob, pixels 4 * xg .. 4 * xg + 3 of row y
// ("_x1": pixel xg alone).
// Global size ceil(out_c / 4), ceil(out_w / 4) ("_x1": out_w), out_h.

// Weight texels of input channels ic0 .. ic0 + 3 at tap (i, j) of group ob.
#define CONV3X3_LOAD_WEIGHTS(ic0, j, wy) \
  const DATA_TYPE4 w0 = WEIGHT_READ4(weight, (ic0) * 3 + (j), (wy), weight_width); \
  const DATA_TYPE4 w1 = WEIGHT_READ4(weight, (ic0) * 3 + 3 + (j), (wy), weight_width); \
  const DATA_TYPE4 w2 = WEIGHT_READ4(weight, (ic0) * 3 + 6 + (j), (wy), weight_width); \
  const DATA_TYPE4 w3 = WEIGHT_READ4(weight, (ic0) * 3 + 9 + (j), (wy), weight_width)

__kernel void KERNEL_NAME(conv3x3_s1x1)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                        WEIGHT_MEM_TYPE weight, __global const half *bias,
                                        __private const short in_channels,
                                        __private const short out_channels,
                                        __private const short out_w,
                                        __private const short in_h,
                                        __private const short activation_flag) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x0 = get_global_id(1) << 2;
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x0 >= out_w) return;

  const int in_blocks = in_channels >> 2;
  const int weight_width = in_channels * 3;
  const int pad = conv3x3_pad(input, in_blocks, out_w);
  const int ix = x0 - pad;
  DATA_TYPE4 acc[4];
  acc[0] = VLD4(ob, bias);
  acc[1] = acc[0];
  acc[2] = acc[0];
  acc[3] = acc[0];
  for (int i = 0; i < 3; ++i) {
    int row = y + i - pad;
    row = (row >= 0 && row < in_h) ? row : -1;
    const int wy = ob * 3 + i;
    for (int cb = 0; cb < in_blocks; ++cb) {
      DATA_TYPE4 in[6];
      for (int p = 0; p < 6; ++p) in[p] = read_pixel_block(input, ix + p, row, in_blocks, cb);
      for (int j = 0; j < 3; ++j) {
        CONV3X3_LOAD_WEIGHTS(cb << 2, j, wy);
        for (int p = 0; p < 4; ++p) {
          MAC4x4(acc[p], in[p + j], w0, w1, w2, w3);
        }
      }
    }
  }
  ACTIVATE4(activation_flag, acc[0], acc[1], acc[2], acc[3]);
  OUTPUT_X4_FUNC(output, acc[0], acc[1], acc[2], acc[3], out_channels, out_w, ob, x0, y);
}

__kernel void KERNEL_NAME(conv3x3_s1x1_x1)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                           WEIGHT_MEM_TYPE weight, __global const half *bias,
                                           __private const short in_channels,
                                           __private const short out_channels,
                                           __private const short out_w,
                                           __private const short in_h,
                                           __private const short activation_flag) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x >= out_w) return;

  const int in_blocks = in_channels >> 2;
  const int weight_width = in_channels * 3;
  const int pad = conv3x3_pad(input, in_blocks, out_w);
  DATA_TYPE4 acc = VLD4(ob, bias);
  for (int i = 0; i < 3; ++i) {
    int row = y + i - pad;
    row = (row >= 0 && row < in_h) ? row : -1;
    const int wy = ob * 3 + i;
    for (int cb = 0; cb < in_blocks; ++cb) {
      for (int j = 0; j < 3; ++j) {
        CONV3X3_LOAD_WEIGHTS(cb << 2, j, wy);
        const DATA_TYPE4 in = read_pixel_block(input, x + j - pad, row, in_blocks, cb);
        MAC4x4(acc, in, w0, w1, w2, w3);
      }
    }
  }
  ACTIVATE1(activation_flag, acc);
  OUTPUT_X1_FUNC(output, acc, out_channels, out_w, ob, x, y);
}
