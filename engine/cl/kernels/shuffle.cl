// Channel shuffle of a layout-0 image with c channels (a multiple of 8):
//   "shuffle_half" (c / 2 groups): output channel k < c/2 is input channel
//   2k, output channel c/2 + k is input channel 2k + 1;
//   "shuffle_2" (2 groups): output channel 2j is input channel j, output
//   channel 2j + 1 is input channel c/2 + j.
// Work item: channel group ob, pixel (x, y); global ceil(c / 4), out_w, h.

#ifndef ENGINE_SHUFFLE_CL
#define ENGINE_SHUFFLE_CL
// Input channel of output channel k for the two shuffles.
inline int shuffle_half_source(int k, int c) { return k < (c >> 1) ? 2 * k : 2 * (k - (c >> 1)) + 1; }
inline int shuffle_2_source(int k, int c) { return (k & 1) == 0 ? (k >> 1) : (c >> 1) + (k >> 1); }
#endif  // ENGINE_SHUFFLE_CL

__kernel void KERNEL_NAME(shuffle_half)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                        __private const short out_channels,
                                        __private const short out_w) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x >= out_w) return;
  const int blocks = (out_channels + 3) >> 2;
  const int k = ob << 2;
  // Four consecutive outputs come from two input texels, even then odd.
  const DATA_TYPE4 v = (DATA_TYPE4)(read_channel(input, x, y, blocks, shuffle_half_source(k, out_channels)),
                                    read_channel(input, x, y, blocks, shuffle_half_source(k + 1, out_channels)),
                                    read_channel(input, x, y, blocks, shuffle_half_source(k + 2, out_channels)),
                                    read_channel(input, x, y, blocks, shuffle_half_source(k + 3, out_channels)));
  OUTPUT_X1_FUNC(output, v, out_channels, out_w, ob, x, y);
}

__kernel void KERNEL_NAME(shuffle_2)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                     __private const short out_channels,
                                     __private const short out_w) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x >= out_w) return;
  const int blocks = (out_channels + 3) >> 2;
  const int k = ob << 2;
  const DATA_TYPE4 v = (DATA_TYPE4)(read_channel(input, x, y, blocks, shuffle_2_source(k, out_channels)),
                                    read_channel(input, x, y, blocks, shuffle_2_source(k + 1, out_channels)),
                                    read_channel(input, x, y, blocks, shuffle_2_source(k + 2, out_channels)),
                                    read_channel(input, x, y, blocks, shuffle_2_source(k + 3, out_channels)));
  OUTPUT_X1_FUNC(output, v, out_channels, out_w, ob, x, y);
}
