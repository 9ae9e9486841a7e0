// Resizing a layout-0 image.  scale_w and scale_h map output to input
// coordinates (src = out * scale).  Nearest: round(src) with
// align_corners, else floor(src), clamped to the input.  Bilinear: weights
// of the two neighbours floor(src) and floor(src) + 1 (clamped) by the
// fraction of src.  Work item: channel group ob, pixel (x, y); global
// ceil(out_c / 4), out_w, out_h.

__kernel void KERNEL_NAME(resize_nearest)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                          __private const short out_channels,
                                          __private const short out_w,
                                          __private const short out_h,
                                          __private const short in_w, __private const short in_h,
                                          __private const short align_corners,
                                          __private const float scale_w,
                                          __private const float scale_h) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x >= out_w || y >= out_h) return;
  const float sx = x * scale_w;
  const float sy = y * scale_h;
  int ix = align_corners ? (int)round(sx) : (int)floor(sx);
  int iy = align_corners ? (int)round(sy) : (int)floor(sy);
  ix = clamp(ix, 0, in_w - 1);
  iy = clamp(iy, 0, in_h - 1);
  const int blocks = (out_channels + 3) >> 2;
  const DATA_TYPE4 v = READ_IMAGE(input, engine_sampler, (int2)(ix * blocks + ob, iy));
  OUTPUT_X1_FUNC(output, v, out_channels, out_w, ob, x, y);
}

__kernel void KERNEL_NAME(resize_bilinear)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                           __private const short out_channels,
                                           __private const short out_w,
                                           __private const short out_h,
                                           __private const short in_w, __private const short in_h,
                                           __private const short align_corners,
                                           __private const float scale_w,
                                           __private const float scale_h) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x >= out_w || y >= out_h) return;
  const float sx = x * scale_w;
  const float sy = y * scale_h;
  const float fx0 = floor(sx);
  const float fy0 = floor(sy);
  const float fx = sx - fx0;
  const float fy = sy - fy0;
  const int x0 = clamp((int)fx0, 0, in_w - 1);
  const int y0 = clamp((int)fy0, 0, in_h - 1);
  const int x1 = min(x0 + 1, in_w - 1);
  const int y1 = min(y0 + 1, in_h - 1);
  const int blocks = (out_channels + 3) >> 2;
  const float4 a = convert_float4(READ_IMAGE(input, engine_sampler, (int2)(x0 * blocks + ob, y0)));
  const float4 b = convert_float4(READ_IMAGE(input, engine_sampler, (int2)(x1 * blocks + ob, y0)));
  const float4 c = convert_float4(READ_IMAGE(input, engine_sampler, (int2)(x0 * blocks + ob, y1)));
  const float4 d = convert_float4(READ_IMAGE(input, engine_sampler, (int2)(x1 * blocks + ob, y1)));
  const float4 top = a + (b - a) * fx;
  const float4 bottom = c + (d - c) * fx;
  OUTPUT_X1_FUNC(output, CONVERT4(top + (bottom - top) * fy), out_channels, out_w, ob, x, y);
}
