// Copies channels start .. start + out_c - 1 (start a multiple of 4) of a
// layout-0 image.  Work item: output channel group ob, pixel (x, y);
// global ceil(out_c / 4), w, h.

__kernel void KERNEL_NAME(slice)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                 __private const short in_channels,
                                 __private const short start_in_channels,
                                 __private const short out_channels, __private const short w,
                                 __private const short h) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x >= w || y >= h) return;
  const int in_blocks = (in_channels + 3) >> 2;
  const DATA_TYPE4 v = READ_IMAGE(input, engine_sampler,
                                  (int2)(x * in_blocks + (start_in_channels >> 2) + ob, y));
  OUTPUT_X1_FUNC(output, v, out_channels, w, ob, x, y);
}
