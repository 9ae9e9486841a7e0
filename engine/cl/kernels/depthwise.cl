// Depthwise convolutions: output channel c reads input channel c only.
// Input image in layout 0 (layout 18 with w4_flag 1), weights in layout 6
// of the n = out_c, kh x kw, c = 1 weight (texel (j, ob * kh + i) holds the
// tap of channels 4ob..4ob+3), bias a one-row layout-0 image (texel (ob, 0)).
// Output channels a multiple of 4.  Work item: channel group ob, pixels
// 4 * xg .. 4 * xg + 3 of row y ("_x1": pixel xg alone).
// Global size ceil(out_c / 4), ceil(out_w / 4) ("_x1": out_w), out_h.
#ifndef ENGINE_DEPTHWISE_CL
#define ENGINE_DEPTHWISE_CL

// Pixel x, channel block cb of a row of an input in layout 0 (w4 0) or in
// layout 18 (w4 1: groups of four pixels with a block's pixels side by
// side); outside the row or with row -1 it reads zero.
inline DATA_TYPE4 read_input_block(__read_only image2d_t img, int x, int row, int blocks, int cb,
                                   int w4) {
  if (w4 == 0) return read_pixel_block(img, x, row, blocks, cb);
  const int in_w = get_image_width(img) / blocks;
  if (x < 0 || x >= in_w) return (DATA_TYPE4)0;
  const int group = x & ~3;
  const int count = min(4, in_w - group);
  return READ_IMAGE(img, engine_sampler, (int2)(group * blocks + cb * count + (x - group), row));
}

// The packed parameters of the 3x3 kernels.
#define DW_PARAS_OUT_C(p) ((p) >> 18)
#define DW_PARAS_OUT_W(p) (((p) >> 4) & 0x3FFF)
#define DW_PARAS_ACTIVATION(p) ((p) & 0xF)

#endif  // ENGINE_DEPTHWISE_CL

__kernel void KERNEL_NAME(depthwise_conv)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                          WEIGHT_MEM_TYPE weight, __read_only image2d_t bias,
                                          __private const short out_channels,
                                          __private const short kernel_w,
                                          __private const short kernel_h,
                                          __private const short pad_l,
                                          __private const short pad_t,
                                          __private const short stride_w,
                                          __private const short stride_h,
                                          __private const short out_w,
                                          __private const short in_h,
                                          __private const short w4_flag,
                                          __private const short activation_flag) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x0 = get_global_id(1) << 2;
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x0 >= out_w) return;

  const int blocks = (out_channels + 3) >> 2;
  DATA_TYPE4 acc0 = READ_IMAGE(bias, engine_sampler, (int2)(ob, 0));
  DATA_TYPE4 acc1 = acc0, acc2 = acc0, acc3 = acc0;
  for (int i = 0; i < kernel_h; ++i) {
    int row = y * stride_h + i - pad_t;
    row = (row >= 0 && row < in_h) ? row : -1;
    for (int j = 0; j < kernel_w; ++j) {
      const DATA_TYPE4 w = WEIGHT_READ4(weight, j, ob * kernel_h + i, kernel_w);
      const int ix = x0 * stride_w + j - pad_l;
      acc0 = mad(read_input_block(input, ix, row, blocks, ob, w4_flag), w, acc0);
      acc1 = mad(read_input_block(input, ix + stride_w, row, blocks, ob, w4_flag), w, acc1);
      acc2 = mad(read_input_block(input, ix + 2 * stride_w, row, blocks, ob, w4_flag), w, acc2);
      acc3 = mad(read_input_block(input, ix + 3 * stride_w, row, blocks, ob, w4_flag), w, acc3);
    }
  }
  ACTIVATE4(activation_flag, acc0, acc1, acc2, acc3);
  OUTPUT_X4_FUNC(output, acc0, acc1, acc2, acc3, out_channels, out_w, ob, x0, y);
}

// 3x3, padding 1, stride 1: six input pixels per row serve four outputs.
__kernel void KERNEL_NAME(depthwise_conv3x3_s1x1)(__read_only image2d_t input,
                                                  OUTPUT_MEM_TYPE output, WEIGHT_MEM_TYPE weight,
                                                  __read_only image2d_t bias,
                                                  __private const int paras,
                                                  __private const short in_h,
                                                  __private const short w4_flag) {
  EMPTY_KERNEL
  const int out_channels = DW_PARAS_OUT_C(paras);
  const int out_w = DW_PARAS_OUT_W(paras);
  const int ob = get_global_id(0);
  const int x0 = get_global_id(1) << 2;
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x0 >= out_w) return;

  const int blocks = (out_channels + 3) >> 2;
  DATA_TYPE4 acc[4];
  acc[0] = READ_IMAGE(bias, engine_sampler, (int2)(ob, 0));
  acc[1] = acc[0];
  acc[2] = acc[0];
  acc[3] = acc[0];
  for (int i = 0; i < 3; ++i) {
    int row = y + i - 1;
    row = (row >= 0 && row < in_h) ? row : -1;
    DATA_TYPE4 in[6];
    for (int p = 0; p < 6; ++p) in[p] = read_input_block(input, x0 - 1 + p, row, blocks, ob, w4_flag);
    for (int j = 0; j < 3; ++j) {
      const DATA_TYPE4 w = WEIGHT_READ4(weight, j, ob * 3 + i, 3);
      for (int p = 0; p < 4; ++p) acc[p] = mad(in[p + j], w, acc[p]);
    }
  }
  const int flag = DW_PARAS_ACTIVATION(paras);
  ACTIVATE4(flag, acc[0], acc[1], acc[2], acc[3]);
  OUTPUT_X4_FUNC(output, acc[0], acc[1], acc[2], acc[3], out_channels, out_w, ob, x0, y);
}

// 3x3, padding 1, stride 2: nine input pixels per row serve four outputs.
__kernel void KERNEL_NAME(depthwise_conv3x3_s2x2)(__read_only image2d_t input,
                                                  OUTPUT_MEM_TYPE output, WEIGHT_MEM_TYPE weight,
                                                  __read_only image2d_t bias,
                                                  __private const int paras,
                                                  __private const short in_h,
                                                  __private const short w4_flag) {
  EMPTY_KERNEL
  const int out_channels = DW_PARAS_OUT_C(paras);
  const int out_w = DW_PARAS_OUT_W(paras);
  const int ob = get_global_id(0);
  const int x0 = get_global_id(1) << 2;
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x0 >= out_w) return;

  const int blocks = (out_channels + 3) >> 2;
  DATA_TYPE4 acc[4];
  acc[0] = READ_IMAGE(bias, engine_sampler, (int2)(ob, 0));
  acc[1] = acc[0];
  acc[2] = acc[0];
  acc[3] = acc[0];
  for (int i = 0; i < 3; ++i) {
    int row = 2 * y + i - 1;
    row = (row >= 0 && row < in_h) ? row : -1;
    DATA_TYPE4 in[9];
    for (int p = 0; p < 9; ++p) in[p] = read_input_block(input, 2 * x0 - 1 + p, row, blocks, ob, w4_flag);
    for (int j = 0; j < 3; ++j) {
      const DATA_TYPE4 w = WEIGHT_READ4(weight, j, ob * 3 + i, 3);
      for (int p = 0; p < 4; ++p) acc[p] = mad(in[2 * p + j], w, acc[p]);
    }
  }
  const int flag = DW_PARAS_ACTIVATION(paras);
  ACTIVATE4(flag, acc[0], acc[1], acc[2], acc[3]);
  OUTPUT_X4_FUNC(output, acc[0], acc[1], acc[2], acc[3], out_channels, out_w, ob, x0, y);
}

__kernel void KERNEL_NAME(depthwise_conv3x3_s2x2_x1)(__read_only image2d_t input,
                                                     OUTPUT_MEM_TYPE output,
                                                     WEIGHT_MEM_TYPE weight,
                                                     __read_only image2d_t bias,
                                                     __private const int paras,
                                                     __private const short in_h,
                                                     __private const short w4_flag) {
  EMPTY_KERNEL
  const int out_channels = DW_PARAS_OUT_C(paras);
  const int out_w = DW_PARAS_OUT_W(paras);
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x >= out_w) return;

  const int blocks = (out_channels + 3) >> 2;
  DATA_TYPE4 acc = READ_IMAGE(bias, engine_sampler, (int2)(ob, 0));
  for (int i = 0; i < 3; ++i) {
    int row = 2 * y + i - 1;
    row = (row >= 0 && row < in_h) ? row : -1;
    for (int j = 0; j < 3; ++j) {
      const DATA_TYPE4 w = WEIGHT_READ4(weight, j, ob * 3 + i, 3);
      acc = mad(read_input_block(input, 2 * x - 1 + j, row, blocks, ob, w4_flag), w, acc);
    }
  }
  const int flag = DW_PARAS_ACTIVATION(paras);
  ACTIVATE1(flag, acc);
  OUTPUT_X1_FUNC(output, acc, out_channels, out_w, ob, x, y);
}

// Two inputs: output channels below in_channels0 come from input 0, the
// rest from input 1; 3x3, padding 1, stride 1.
__kernel void KERNEL_NAME(depthwise_in2_conv3x3_s1x1)(__read_only image2d_t input0,
                                                      __read_only image2d_t input1,
                                                      OUTPUT_MEM_TYPE output,
                                                      WEIGHT_MEM_TYPE weight,
                                                      __read_only image2d_t bias,
                                                      __private const short in_channels0,
                                                      __private const short in_channels1,
                                                      __private const short out_w,
                                                      __private const short in_h,
                                                      __private const short w4_flag,
                                                      __private const short activation_flag) {
  EMPTY_KERNEL
  const int out_channels = in_channels0 + in_channels1;
  const int ob = get_global_id(0);
  const int x0 = get_global_id(1) << 2;
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x0 >= out_w) return;

  const int blocks0 = (in_channels0 + 3) >> 2;
  const int blocks1 = (in_channels1 + 3) >> 2;
  DATA_TYPE4 acc[4];
  acc[0] = READ_IMAGE(bias, engine_sampler, (int2)(ob, 0));
  acc[1] = acc[0];
  acc[2] = acc[0];
  acc[3] = acc[0];
  for (int i = 0; i < 3; ++i) {
    int row = y + i - 1;
    row = (row >= 0 && row < in_h) ? row : -1;
    DATA_TYPE4 in[6];
    for (int p = 0; p < 6; ++p) {
      const int x = x0 - 1 + p;
      if ((in_channels0 & 3) == 0) {
        in[p] = (ob << 2) < in_channels0
                    ? read_input_block(input0, x, row, blocks0, ob, w4_flag)
                    : read_input_block(input1, x, row, blocks1, ob - blocks0, w4_flag);
        continue;
      }
      DATA_TYPE v[4];
      // Channel by channel, so a group may straddle the two inputs.
      for (int q = 0; q < 4; ++q) {
        const int ch = (ob << 2) + q;
        DATA_TYPE4 t;
        int k;
        if (ch < in_channels0) {
          t = read_input_block(input0, x, row, blocks0, ch >> 2, w4_flag);
          k = ch & 3;
        } else {
          t = read_input_block(input1, x, row, blocks1, (ch - in_channels0) >> 2, w4_flag);
          k = (ch - in_channels0) & 3;
        }
        v[q] = k == 0 ? t.s0 : (k == 1 ? t.s1 : (k == 2 ? t.s2 : t.s3));
      }
      in[p] = (DATA_TYPE4)(v[0], v[1], v[2], v[3]);
    }
    for (int j = 0; j < 3; ++j) {
      const DATA_TYPE4 w = WEIGHT_READ4(weight, j, ob * 3 + i, 3);
      for (int p = 0; p < 4; ++p) acc[p] = mad(in[p + j], w, acc[p]);
    }
  }
  ACTIVATE4(activation_flag, acc[0], acc[1], acc[2], acc[3]);
  OUTPUT_X4_FUNC(output, acc[0], acc[1], acc[2], acc[3], out_channels, out_w, ob, x0, y);
}
