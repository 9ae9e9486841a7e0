// out = in * factor[c] + offset[c] over a layout-0 image; offset and factor
// are one-row layout-0 images (texel (ob, 0)), passed in that order.
// Work item: channel group ob, pixel (x, y); global ceil(c / 4), w, h.

__kernel void KERNEL_NAME(batchnorm)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                     __read_only image2d_t offset, __read_only image2d_t factor,
                                     __private const short channels, __private const short w,
                                     __private const short h,
                                     __private const short activation_flag) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= channels || x >= w || y >= h) return;
  const int blocks = (channels + 3) >> 2;
  const DATA_TYPE4 in = READ_IMAGE(input, engine_sampler, (int2)(x * blocks + ob, y));
  DATA_TYPE4 v = mad(in, READ_IMAGE(factor, engine_sampler, (int2)(ob, 0)),
                     READ_IMAGE(offset, engine_sampler, (int2)(ob, 0)));
  ACTIVATE1(activation_flag, v);
  OUTPUT_X1_FUNC(output, v, channels, w, ob, x, y);
}
