// 1x1 convolution, stride 1, input channels a multiple of 4.  Input image
// in layout 0 ("_w4": layout 18), weights in layout 13 (x = ic, y = ob),
// bias a half buffer.  Work item: channel group ob, pixels 4 * xg ..
// 4 * xg + 3 of row y ("_x1": pixel xg alone).
// Global size ceil(out_c / 4), ceil(out_w / 4) ("_x1": out_w), out_h.

// Four input channels' weight texels for output group ob.
#define CONV1X1_LOAD_WEIGHTS(ic0) \
  const DATA_TYPE4 w0 = WEIGHT_READ4(weight, (ic0), ob, in_channels); \
  const DATA_TYPE4 w1 = WEIGHT_READ4(weight, (ic0) + 1, ob, in_channels); \
  const DATA_TYPE4 w2 = WEIGHT_READ4(weight, (ic0) + 2, ob, in_channels); \
  const DATA_TYPE4 w3 = WEIGHT_READ4(weight, (ic0) + 3, ob, in_channels)

__kernel void KERNEL_NAME(conv1x1_s1x1)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                        WEIGHT_MEM_TYPE weight, __global const half *bias,
                                        __private const short in_channels,
                                        __private const short out_channels,
                                        __private const short out_w,
                                        __private const short activation_flag) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x0 = get_global_id(1) << 2;
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x0 >= out_w) return;

  const int in_blocks = in_channels >> 2;
  DATA_TYPE4 acc0 = VLD4(ob, bias);
  DATA_TYPE4 acc1 = acc0, acc2 = acc0, acc3 = acc0;
  for (int cb = 0; cb < in_blocks; ++cb) {
    CONV1X1_LOAD_WEIGHTS(cb << 2);
    const DATA_TYPE4 in0 = read_pixel_block(input, x0, y, in_blocks, cb);
    const DATA_TYPE4 in1 = read_pixel_block(input, x0 + 1, y, in_blocks, cb);
    const DATA_TYPE4 in2 = read_pixel_block(input, x0 + 2, y, in_blocks, cb);
    const DATA_TYPE4 in3 = read_pixel_block(input, x0 + 3, y, in_blocks, cb);
    MAC4x4(acc0, in0, w0, w1, w2, w3);
    MAC4x4(acc1, in1, w0, w1, w2, w3);
    MAC4x4(acc2, in2, w0, w1, w2, w3);
    MAC4x4(acc3, in3, w0, w1, w2, w3);
  }
  ACTIVATE4(activation_flag, acc0, acc1, acc2, acc3);
  OUTPUT_X4_FUNC(output, acc0, acc1, acc2, acc3, out_channels, out_w, ob, x0, y);
}

// Input in layout 18: the four pixels of group xg and one channel block lie
// in consecutive texels (r of them in a short last group).
__kernel void KERNEL_NAME(conv1x1_s1x1_w4)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                           WEIGHT_MEM_TYPE weight, __global const half *bias,
                                           __private const short in_channels,
                                           __private const short out_channels,
                                           __private const short out_w,
                                           __private const short activation_flag) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x0 = get_global_id(1) << 2;
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x0 >= out_w) return;

  const int in_blocks = in_channels >> 2;
  const int count = min(4, out_w - x0);
  const int group = x0 * in_blocks;
  DATA_TYPE4 acc0 = VLD4(ob, bias);
  DATA_TYPE4 acc1 = acc0, acc2 = acc0, acc3 = acc0;
  for (int cb = 0; cb < in_blocks; ++cb) {
    CONV1X1_LOAD_WEIGHTS(cb << 2);
    const int pos = group + cb * count;
    const DATA_TYPE4 in0 = READ_IMAGE(input, engine_sampler, (int2)(pos, y));
    const DATA_TYPE4 in1 = count > 1 ? READ_IMAGE(input, engine_sampler, (int2)(pos + 1, y)) : (DATA_TYPE4)0;
    const DATA_TYPE4 in2 = count > 2 ? READ_IMAGE(input, engine_sampler, (int2)(pos + 2, y)) : (DATA_TYPE4)0;
    const DATA_TYPE4 in3 = count > 3 ? READ_IMAGE(input, engine_sampler, (int2)(pos + 3, y)) : (DATA_TYPE4)0;
    MAC4x4(acc0, in0, w0, w1, w2, w3);
    MAC4x4(acc1, in1, w0, w1, w2, w3);
    MAC4x4(acc2, in2, w0, w1, w2, w3);
    MAC4x4(acc3, in3, w0, w1, w2, w3);
  }
  ACTIVATE4(activation_flag, acc0, acc1, acc2, acc3);
  OUTPUT_X4_FUNC(output, acc0, acc1, acc2, acc3, out_channels, out_w, ob, x0, y);
}

__kernel void KERNEL_NAME(conv1x1_s1x1_x1)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                           WEIGHT_MEM_TYPE weight, __global const half *bias,
                                           __private const short in_channels,
                                           __private const short out_channels,
                                           __private const short out_w,
                                           __private const short activation_flag) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x >= out_w) return;

  const int in_blocks = in_channels >> 2;
  DATA_TYPE4 acc = VLD4(ob, bias);
  for (int cb = 0; cb < in_blocks; ++cb) {
    CONV1X1_LOAD_WEIGHTS(cb << 2);
    const DATA_TYPE4 in = read_pixel_block(input, x, y, in_blocks, cb);
    MAC4x4(acc, in, w0, w1, w2, w3);
  }
  ACTIVATE1(activation_flag, acc);
  OUTPUT_X1_FUNC(output, acc, out_channels, out_w, ob, x, y);
}
