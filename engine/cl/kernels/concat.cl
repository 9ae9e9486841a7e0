// Channel concatenation of 2 to 4 inputs.  After the memory objects (the
// inputs, then the output) come the global sizes as shorts
// (GLOBAL_WORK_GROUP_SIZE_DIM3), then the input channel counts.
//   "concat2", "concat3", "concat4": layout-0 images, every input channel
//   count a multiple of 4; "concat3_X4_2_2" (c0 a multiple of 4, 2, 2) and
//   "concat3_X2_3_3" (c0 even, 3, 3) for the mixed counts.  Work item:
//   output channel group ob, pixel (x, y); global ceil(out_c / 4), w, h.
//   "concat2_buf", "concat3_buf", "concat4_buf": NHWC half buffers.  Work
//   item: output channel, pixel (x, y); global out_c, w, h.

#ifndef ENGINE_CONCAT_CL
#define ENGINE_CONCAT_CL
// Output channel ch gathered from the inputs, channel by channel (any
// counts).
inline DATA_TYPE concat_channel(__read_only image2d_t in0, __read_only image2d_t in1,
                                __read_only image2d_t in2, __read_only image2d_t in3, int c0,
                                int c1, int c2, int c3, int x, int y, int ch) {
  if (ch < c0) return read_channel(in0, x, y, (c0 + 3) >> 2, ch);
  ch -= c0;
  if (ch < c1) return read_channel(in1, x, y, (c1 + 3) >> 2, ch);
  ch -= c1;
  if (ch < c2) return read_channel(in2, x, y, (c2 + 3) >> 2, ch);
  ch -= c2;
  return ch < c3 ? read_channel(in3, x, y, (c3 + 3) >> 2, ch) : (DATA_TYPE)0;
}

inline DATA_TYPE4 concat_group(__read_only image2d_t in0, __read_only image2d_t in1,
                               __read_only image2d_t in2, __read_only image2d_t in3, int c0,
                               int c1, int c2, int c3, int x, int y, int ob) {
  const int k = ob << 2;
  return (DATA_TYPE4)(concat_channel(in0, in1, in2, in3, c0, c1, c2, c3, x, y, k),
                      concat_channel(in0, in1, in2, in3, c0, c1, c2, c3, x, y, k + 1),
                      concat_channel(in0, in1, in2, in3, c0, c1, c2, c3, x, y, k + 2),
                      concat_channel(in0, in1, in2, in3, c0, c1, c2, c3, x, y, k + 3));
}

// Whole groups: group ob of the output is a group of one input.
inline DATA_TYPE4 concat_whole_group(__read_only image2d_t in0, __read_only image2d_t in1,
                                     __read_only image2d_t in2, __read_only image2d_t in3, int c0,
                                     int c1, int c2, int c3, int x, int y, int ob) {
  const int b0 = c0 >> 2, b1 = c1 >> 2, b2 = c2 >> 2, b3 = c3 >> 2;
  if (ob < b0) return READ_IMAGE(in0, engine_sampler, (int2)(x * b0 + ob, y));
  ob -= b0;
  if (ob < b1) return READ_IMAGE(in1, engine_sampler, (int2)(x * b1 + ob, y));
  ob -= b1;
  if (ob < b2) return READ_IMAGE(in2, engine_sampler, (int2)(x * b2 + ob, y));
  ob -= b2;
  return READ_IMAGE(in3, engine_sampler, (int2)(x * b3 + ob, y));
}

// Output channel ch of pixel index p gathered from NHWC half buffers.
inline float concat_buffer_channel(__global const half *in0, __global const half *in1,
                                   __global const half *in2, __global const half *in3, int c0,
                                   int c1, int c2, int c3, int p, int ch) {
  if (ch < c0) return vload_half(p * c0 + ch, in0);
  ch -= c0;
  if (ch < c1) return vload_half(p * c1 + ch, in1);
  ch -= c1;
  if (ch < c2) return vload_half(p * c2 + ch, in2);
  ch -= c2;
  return vload_half(p * c3 + ch, in3);
}

#define CONCAT_BUFFER_BODY(c0, c1, c2, c3)                                                     \
  const int ch = get_global_id(0);                                                            \
  const int x = get_global_id(1);                                                             \
  const int y = get_global_id(2);                                                             \
  const int out_c = (c0) + (c1) + (c2) + (c3);                                                \
  if (ch >= out_c || x >= global_size_dim1 || y >= global_size_dim2) return;                 \
  const int p = y * global_size_dim1 + x;                                                     \
  vstore_half(concat_buffer_channel(input0, input1, input2, input3, (c0), (c1), (c2), (c3), p, \
                                    ch),                                                      \
              p * out_c + ch, output);

__kernel void concat2_buf(__global const half *input0, __global const half *input1,
                          __global half *output, GLOBAL_WORK_GROUP_SIZE_DIM3,
                          __private const short in_channels0, __private const short in_channels1) {
  EMPTY_KERNEL
  __global const half *input2 = input1;
  __global const half *input3 = input1;
  CONCAT_BUFFER_BODY(in_channels0, in_channels1, 0, 0)
}

__kernel void concat3_buf(__global const half *input0, __global const half *input1,
                          __global const half *input2, __global half *output,
                          GLOBAL_WORK_GROUP_SIZE_DIM3, __private const short in_channels0,
                          __private const short in_channels1,
                          __private const short in_channels2) {
  EMPTY_KERNEL
  __global const half *input3 = input2;
  CONCAT_BUFFER_BODY(in_channels0, in_channels1, in_channels2, 0)
}

__kernel void concat4_buf(__global const half *input0, __global const half *input1,
                          __global const half *input2, __global const half *input3,
                          __global half *output, GLOBAL_WORK_GROUP_SIZE_DIM3,
                          __private const short in_channels0, __private const short in_channels1,
                          __private const short in_channels2,
                          __private const short in_channels3) {
  EMPTY_KERNEL
  CONCAT_BUFFER_BODY(in_channels0, in_channels1, in_channels2, in_channels3)
}
#endif  // ENGINE_CONCAT_CL

// Image kernels: x bound and output width from global_size_dim1.
#define CONCAT_IMAGE_PROLOGUE(c0, c1, c2, c3)                                                  \
  const int ob = get_global_id(0);                                                            \
  const int x = get_global_id(1);                                                             \
  const int y = get_global_id(2);                                                             \
  const int out_c = (c0) + (c1) + (c2) + (c3);                                                \
  if ((ob << 2) >= out_c || x >= global_size_dim1 || y >= global_size_dim2) return;

__kernel void KERNEL_NAME(concat2)(__read_only image2d_t input0, __read_only image2d_t input1,
                                   OUTPUT_MEM_TYPE output, GLOBAL_WORK_GROUP_SIZE_DIM3,
                                   __private const short in_channels0,
                                   __private const short in_channels1) {
  EMPTY_KERNEL
  CONCAT_IMAGE_PROLOGUE(in_channels0, in_channels1, 0, 0)
  const DATA_TYPE4 v = concat_whole_group(input0, input1, input1, input1, in_channels0,
                                          in_channels1, 0, 0, x, y, ob);
  OUTPUT_X1_FUNC(output, v, out_c, global_size_dim1, ob, x, y);
}

__kernel void KERNEL_NAME(concat3)(__read_only image2d_t input0, __read_only image2d_t input1,
                                   __read_only image2d_t input2, OUTPUT_MEM_TYPE output,
                                   GLOBAL_WORK_GROUP_SIZE_DIM3, __private const short in_channels0,
                                   __private const short in_channels1,
                                   __private const short in_channels2) {
  EMPTY_KERNEL
  CONCAT_IMAGE_PROLOGUE(in_channels0, in_channels1, in_channels2, 0)
  const DATA_TYPE4 v = concat_whole_group(input0, input1, input2, input2, in_channels0,
                                          in_channels1, in_channels2, 0, x, y, ob);
  OUTPUT_X1_FUNC(output, v, out_c, global_size_dim1, ob, x, y);
}

__kernel void KERNEL_NAME(concat4)(__read_only image2d_t input0, __read_only image2d_t input1,
                                   __read_only image2d_t input2, __read_only image2d_t input3,
                                   OUTPUT_MEM_TYPE output, GLOBAL_WORK_GROUP_SIZE_DIM3,
                                   __private const short in_channels0,
                                   __private const short in_channels1,
                                   __private const short in_channels2,
                                   __private const short in_channels3) {
  EMPTY_KERNEL
  CONCAT_IMAGE_PROLOGUE(in_channels0, in_channels1, in_channels2, in_channels3)
  const DATA_TYPE4 v = concat_whole_group(input0, input1, input2, input3, in_channels0,
                                          in_channels1, in_channels2, in_channels3, x, y, ob);
  OUTPUT_X1_FUNC(output, v, out_c, global_size_dim1, ob, x, y);
}

__kernel void KERNEL_NAME(concat3_X4_2_2)(__read_only image2d_t input0,
                                          __read_only image2d_t input1,
                                          __read_only image2d_t input2, OUTPUT_MEM_TYPE output,
                                          GLOBAL_WORK_GROUP_SIZE_DIM3,
                                          __private const short in_channels0,
                                          __private const short in_channels1,
                                          __private const short in_channels2) {
  EMPTY_KERNEL
  CONCAT_IMAGE_PROLOGUE(in_channels0, in_channels1, in_channels2, 0)
  const DATA_TYPE4 v = concat_group(input0, input1, input2, input2, in_channels0, in_channels1,
                                    in_channels2, 0, x, y, ob);
  OUTPUT_X1_FUNC(output, v, out_c, global_size_dim1, ob, x, y);
}

__kernel void KERNEL_NAME(concat3_X2_3_3)(__read_only image2d_t input0,
                                          __read_only image2d_t input1,
                                          __read_only image2d_t input2, OUTPUT_MEM_TYPE output,
                                          GLOBAL_WORK_GROUP_SIZE_DIM3,
                                          __private const short in_channels0,
                                          __private const short in_channels1,
                                          __private const short in_channels2) {
  EMPTY_KERNEL
  CONCAT_IMAGE_PROLOGUE(in_channels0, in_channels1, in_channels2, 0)
  const DATA_TYPE4 v = concat_group(input0, input1, input2, input2, in_channels0, in_channels1,
                                    in_channels2, 0, x, y, ob);
  OUTPUT_X1_FUNC(output, v, out_c, global_size_dim1, ob, x, y);
}
