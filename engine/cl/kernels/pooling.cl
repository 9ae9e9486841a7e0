// Pooling over layout-0 images.  Windows are placed as for convolutions
// (without dilation); taps outside the input are skipped, so the average
// divides by the taps inside, and the maximum starts from -100000.
//   "pooling_avg", "pooling_max": work item channel group ob, pixel (x, y);
//   global ceil(out_c / 4), out_w, out_h.
//   "global_pooling_avg": in_w and in_h multiples of 4, at most 64
//   channels; work groups of (any up to 16) x 4 x 4 items, global
//   ceil(c / 4), 4, 4, local (1 to 16, 4, 4).  Each item sums an
//   (in_w / 4) x (in_h / 4) block; the first item of a channel group adds
//   the 16 partial sums and scales by 1 / (in_w in_h).  The output is the
//   1 x 1 x c tensor.

__kernel void KERNEL_NAME(pooling_avg)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                       __private const short out_channels,
                                       __private const short out_w, __private const short in_w,
                                       __private const short in_h, __private const short kernel_w,
                                       __private const short kernel_h, __private const short pad_l,
                                       __private const short pad_t,
                                       __private const short stride_w,
                                       __private const short stride_h) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x >= out_w) return;
  const int blocks = (out_channels + 3) >> 2;
  const int y0 = max(y * stride_h - pad_t, 0);
  const int y1 = min(y * stride_h - pad_t + kernel_h, (int)in_h);
  const int x0 = max(x * stride_w - pad_l, 0);
  const int x1 = min(x * stride_w - pad_l + kernel_w, (int)in_w);
  float4 sum = (float4)0;
  for (int iy = y0; iy < y1; ++iy) {
    for (int ix = x0; ix < x1; ++ix) {
      sum += convert_float4(READ_IMAGE(input, engine_sampler, (int2)(ix * blocks + ob, iy)));
    }
  }
  const int taps = max((y1 - y0) * (x1 - x0), 1);
  OUTPUT_X1_FUNC(output, CONVERT4(sum / (float)taps), out_channels, out_w, ob, x, y);
}

__kernel void KERNEL_NAME(pooling_max)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                       __private const short out_channels,
                                       __private const short out_w, __private const short in_w,
                                       __private const short in_h, __private const short kernel_w,
                                       __private const short kernel_h, __private const short pad_l,
                                       __private const short pad_t,
                                       __private const short stride_w,
                                       __private const short stride_h) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x >= out_w) return;
  const int blocks = (out_channels + 3) >> 2;
  const int y0 = max(y * stride_h - pad_t, 0);
  const int y1 = min(y * stride_h - pad_t + kernel_h, (int)in_h);
  const int x0 = max(x * stride_w - pad_l, 0);
  const int x1 = min(x * stride_w - pad_l + kernel_w, (int)in_w);
  // From minus infinity, so that any input value wins; a window wholly in
  // the padding gives 0, as on the CPU.
  DATA_TYPE4 best = (DATA_TYPE4)(-INFINITY);
  for (int iy = y0; iy < y1; ++iy) {
    for (int ix = x0; ix < x1; ++ix) {
      best = fmax(best, READ_IMAGE(input, engine_sampler, (int2)(ix * blocks + ob, iy)));
    }
  }
  if (y1 <= y0 || x1 <= x0) best = (DATA_TYPE4)0;
  OUTPUT_X1_FUNC(output, best, out_channels, out_w, ob, x, y);
}

__kernel void KERNEL_NAME(global_pooling_avg)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                              __private const short channels,
                                              __private const short in_w,
                                              __private const short in_h) {
  EMPTY_KERNEL
  __local float4 partial[16][16];
  const int ob = get_global_id(0);
  const int group = get_local_id(0);
  const int lx = get_local_id(1);
  const int ly = get_local_id(2);
  const int blocks = (channels + 3) >> 2;
  const int bw = in_w >> 2;
  const int bh = in_h >> 2;
  float4 sum = (float4)0;
  if (ob < blocks) {
    for (int iy = ly * bh; iy < (ly + 1) * bh; ++iy) {
      for (int ix = lx * bw; ix < (lx + 1) * bw; ++ix) {
        sum += convert_float4(READ_IMAGE(input, engine_sampler, (int2)(ix * blocks + ob, iy)));
      }
    }
  }
  partial[group][ly * 4 + lx] = sum;
  barrier(CLK_LOCAL_MEM_FENCE);
  if (ob < blocks && lx == 0 && ly == 0) {
    float4 total = (float4)0;
    for (int k = 0; k < 16; ++k) total += partial[group][k];
    total *= 1.0f / ((float)in_w * (float)in_h);
    OUTPUT_X1_FUNC(output, CONVERT4(total), channels, 1, ob, 0, 0);
  }
}
