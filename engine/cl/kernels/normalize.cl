// 8-bit NHWC input (up to 3 channels) to a layout-0 image: channel k
// becomes (b - mean_k) * scale_k; output channels past the input's get the
// fill value.  Work item: channel group ob, pixel (x, y); global
// ceil(out_c / 4), w, h.

#ifndef ENGINE_NORMALIZE_CL
#define ENGINE_NORMALIZE_CL
inline float normalize_channel(__global const uchar *input, int base, int k, int in_c, float m0,
                               float m1, float m2, float s0, float s1, float s2, float fill) {
  if (k >= in_c) return fill;
  const float b = (float)input[base + k];
  if (k == 0) return (b - m0) * s0;
  if (k == 1) return (b - m1) * s1;
  return (b - m2) * s2;
}
#endif  // ENGINE_NORMALIZE_CL

__kernel void KERNEL_NAME(normalize_kernel)(__global const uchar *input, OUTPUT_MEM_TYPE output,
                                            __private const short in_c,
                                            __private const short out_c, __private const short w,
                                            __private const short h, __private const float m0,
                                            __private const float m1, __private const float m2,
                                            __private const float s0, __private const float s1,
                                            __private const float s2,
                                            __private const float fill_val) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= out_c || x >= w || y >= h) return;
  const int base = (y * w + x) * in_c;
  const int k = ob << 2;
  const float4 v = (float4)(normalize_channel(input, base, k, in_c, m0, m1, m2, s0, s1, s2, fill_val),
                            normalize_channel(input, base, k + 1, in_c, m0, m1, m2, s0, s1, s2, fill_val),
                            normalize_channel(input, base, k + 2, in_c, m0, m1, m2, s0, s1, s2, fill_val),
                            normalize_channel(input, base, k + 3, in_c, m0, m1, m2, s0, s1, s2, fill_val));
  OUTPUT_X1_FUNC(output, CONVERT4(v), out_c, w, ob, x, y);
}
