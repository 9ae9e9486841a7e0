// Channel shuffle over the concatenation of two layout-0 inputs of e
// channels each (or over one input of 2e channels; told apart by input 0's
// width), written as two halves: output 0 gets shuffled channels 0 .. e-1
// and output 1 channels e .. 2e-1, or, with num_outputs 1, output 0 gets
// all 2e.  e = out_channels, a multiple of 4.  "shuffle_split2_half" uses
// e groups, "shuffle_split2_2" two groups (see shuffle.cl).  Work item:
// channel group ob of each half, pixel (x, y); global e / 4, out_w, h.

#ifndef ENGINE_SHUFFLE_SPLIT2_CL
#define ENGINE_SHUFFLE_SPLIT2_CL
// Channel s of the concatenated input.
inline DATA_TYPE shuffle_split2_read(__read_only image2d_t in0, __read_only image2d_t in1,
                                     int two_inputs, int e, int x, int y, int s) {
  if (!two_inputs) return read_channel(in0, x, y, (2 * e) >> 2, s);
  return s < e ? read_channel(in0, x, y, e >> 2, s) : read_channel(in1, x, y, e >> 2, s - e);
}

// Four shuffled channels from k on; two_groups picks the two-group shuffle.
inline DATA_TYPE4 shuffle_split2_group(__read_only image2d_t in0, __read_only image2d_t in1,
                                       int two_inputs, int e, int x, int y, int k, int two_groups) {
  const int c = 2 * e;
  DATA_TYPE v[4];
  for (int q = 0; q < 4; ++q) {
    const int s = two_groups ? shuffle_2_source(k + q, c) : shuffle_half_source(k + q, c);
    v[q] = shuffle_split2_read(in0, in1, two_inputs, e, x, y, s);
  }
  return (DATA_TYPE4)(v[0], v[1], v[2], v[3]);
}
#endif  // ENGINE_SHUFFLE_SPLIT2_CL

#define SHUFFLE_SPLIT2_BODY(two_groups)                                                         \
  const int ob = get_global_id(0);                                                             \
  const int x = get_global_id(1);                                                              \
  const int y = get_global_id(2);                                                              \
  const int e = out_channels;                                                                  \
  if ((ob << 2) >= e || x >= out_w) return;                                                    \
  const int two_inputs = get_image_width(input0) / out_w < ((2 * e) >> 2);                     \
  const DATA_TYPE4 first = shuffle_split2_group(input0, input1, two_inputs, e, x, y, ob << 2,  \
                                                two_groups);                                   \
  const DATA_TYPE4 second = shuffle_split2_group(input0, input1, two_inputs, e, x, y,          \
                                                 e + (ob << 2), two_groups);                   \
  if (num_outputs == 2) {                                                                      \
    OUTPUT_X1_FUNC(output0, first, e, out_w, ob, x, y);                                        \
    OUTPUT_X1_FUNC(output1, second, e, out_w, ob, x, y);                                       \
  } else {                                                                                     \
    OUTPUT_X1_FUNC(output0, first, 2 * e, out_w, ob, x, y);                                    \
    OUTPUT_X1_FUNC(output0, second, 2 * e, out_w, (e >> 2) + ob, x, y);                        \
  }

__kernel void KERNEL_NAME(shuffle_split2_half)(__read_only image2d_t input0,
                                               __read_only image2d_t input1,
                                               OUTPUT_MEM_TYPE output0, OUTPUT_MEM_TYPE output1,
                                               __private const short out_channels,
                                               __private const short out_w,
                                               __private const short num_outputs) {
  EMPTY_KERNEL
  SHUFFLE_SPLIT2_BODY(0)
}

__kernel void KERNEL_NAME(shuffle_split2_2)(__read_only image2d_t input0,
                                            __read_only image2d_t input1,
                                            OUTPUT_MEM_TYPE output0, OUTPUT_MEM_TYPE output1,
                                            __private const short out_channels,
                                            __private const short out_w,
                                            __private const short num_outputs) {
  EMPTY_KERNEL
  SHUFFLE_SPLIT2_BODY(1)
}
