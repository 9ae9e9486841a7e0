// Splits a layout-0 image in two along the channels: output 0 takes the
// first out_c channels (whole groups), output 1 the next out_c.
// Work item: channel group ob of both outputs, pixel (x, y); global
// ceil(out_c / 4), out_w, h.

__kernel void KERNEL_NAME(split_2)(__read_only image2d_t input, OUTPUT_MEM_TYPE output0,
                                   OUTPUT_MEM_TYPE output1, __private const short out_channels,
                                   __private const short out_w) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x >= out_w) return;
  const int half_blocks = (out_channels + 3) >> 2;
  const int in_blocks = half_blocks << 1;
  const DATA_TYPE4 a = READ_IMAGE(input, engine_sampler, (int2)(x * in_blocks + ob, y));
  const DATA_TYPE4 b = READ_IMAGE(input, engine_sampler, (int2)(x * in_blocks + half_blocks + ob, y));
  OUTPUT_X1_FUNC(output0, a, out_channels, out_w, ob, x, y);
  OUTPUT_X1_FUNC(output1, b, out_channels, out_w, ob, x, y);
}
