// 3x3 convolution, stride 1, dilation 1, input channels a multiple of 4,
// one output channel per work item, output an NHWC half buffer (the kernels
// exist in the buffer-output programs only).  Weights in layout 0 of the
// weight tensor (x = j * ceil(in_c / 4) + cb, y = oc * 3 + i: a texel holds
// four input channels), bias a half buffer.  Padding as in conv3x3.
// Global size out_c, out_w, out_h; the sub-group kernel: 8, out_c * out_w,
// out_h with a local size of 8, its lanes sharing the input channel groups.
#ifdef USE_BUFFER_OUT

// Layout-0 weight texel of input group cb at tap (i, j) of channel oc.
#define CONV3X3_N1_WEIGHT(cb, j, row) \
  WEIGHT_READ4(weight, (j) * in_blocks + (cb), (row), weight_width)

__kernel void KERNEL_NAME(conv3x3_s1x1_n1_x1)(__read_only image2d_t input,
                                              OUTPUT_MEM_TYPE output, WEIGHT_MEM_TYPE weight,
                                              __global const half *bias,
                                              __private const short in_channels,
                                              __private const short out_channels,
                                              __private const short out_w,
                                              __private const short in_h,
                                              __private const short activation_flag) {
  EMPTY_KERNEL
  const int oc = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if (oc >= out_channels || x >= out_w) return;

  const int in_blocks = in_channels >> 2;
  const int weight_width = in_blocks * 3;
  const int pad = conv3x3_pad(input, in_blocks, out_w);
  DATA_TYPE4 acc = (DATA_TYPE4)0;
  for (int i = 0; i < 3; ++i) {
    int row = y + i - pad;
    row = (row >= 0 && row < in_h) ? row : -1;
    const int wy = oc * 3 + i;
    for (int j = 0; j < 3; ++j) {
      const int ix = x + j - pad;
      for (int cb = 0; cb < in_blocks; ++cb) {
        const DATA_TYPE4 in = read_pixel_block(input, ix, row, in_blocks, cb);
        acc = mad(in, CONV3X3_N1_WEIGHT(cb, j, wy), acc);
      }
    }
  }
  DATA_TYPE v = acc.s0 + acc.s1 + acc.s2 + acc.s3 + VLD(oc, bias);
  v = activate_scalar(v, activation_flag);
  VST(v, (y * out_w + x) * out_channels + oc, output);
}

#ifdef KHR_SUB_GROUP
// Eight lanes share one output: lane l sums input groups l, l + 8, ...
// With the device compiler's sub-group functions the lanes are one
// sub-group (local size 8 in dimension 0); without them the kernel
// requires work groups of exactly 8 x 1 x 1 and adds through local memory.
#ifdef cl_khr_subgroups
#pragma OPENCL EXTENSION cl_khr_subgroups : enable
#define SUB_GROUP8_ATTRIBUTE
#else
#define SUB_GROUP8_ATTRIBUTE __attribute__((reqd_work_group_size(8, 1, 1)))
#endif

__kernel SUB_GROUP8_ATTRIBUTE void KERNEL_NAME(conv3x3_s1x1_n1_x1_sub_group8)(
    __read_only image2d_t input, OUTPUT_MEM_TYPE output, WEIGHT_MEM_TYPE weight,
    __global const half *bias, __private const short in_channels,
    __private const short out_channels, __private const short out_w,
    __private const short in_h, __private const short activation_flag) {
  EMPTY_KERNEL
  const int lane = get_local_id(0);
  const int item = get_global_id(1);
  const int y = get_global_id(2);
  const int oc = item / out_w;
  const int x = item - oc * out_w;
  const bool active = oc < out_channels;

  const int in_blocks = in_channels >> 2;
  const int weight_width = in_blocks * 3;
  const int pad = conv3x3_pad(input, in_blocks, out_w);
  DATA_TYPE4 acc = (DATA_TYPE4)0;
  if (active) {
    for (int i = 0; i < 3; ++i) {
      int row = y + i - pad;
      row = (row >= 0 && row < in_h) ? row : -1;
      const int wy = oc * 3 + i;
      for (int j = 0; j < 3; ++j) {
        const int ix = x + j - pad;
        for (int cb = lane; cb < in_blocks; cb += 8) {
          const DATA_TYPE4 in = read_pixel_block(input, ix, row, in_blocks, cb);
          acc = mad(in, CONV3X3_N1_WEIGHT(cb, j, wy), acc);
        }
      }
    }
  }
  const float part = (float)(acc.s0 + acc.s1 + acc.s2 + acc.s3);
#ifdef cl_khr_subgroups
  const float sum = sub_group_reduce_add(part);
#else
  __local float lanes[8];
  lanes[lane] = part;
  barrier(CLK_LOCAL_MEM_FENCE);
  float sum = 0.0f;
  for (int l = 0; l < 8; ++l) sum += lanes[l];
#endif
  if (active && lane == 0) {
    DATA_TYPE v = (DATA_TYPE)sum + VLD(oc, bias);
    v = activate_scalar(v, activation_flag);
    VST(v, (y * out_w + x) * out_channels + oc, output);
  }
}

#endif  // KHR_SUB_GROUP
#endif  // USE_BUFFER_OUT
