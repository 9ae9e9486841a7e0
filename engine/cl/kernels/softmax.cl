// Softmax over the channels of each pixel of an NHWC half buffer: subtract
// the maximum, exponentiate, divide by the sum (three channels unrolled).
// Work item: pixel (x, y); global w, h.

#ifndef ENGINE_SOFTMAX_CL
#define ENGINE_SOFTMAX_CL

__kernel void softmax(__global const half *input, __global half *output,
                      __private const short channels, __private const short w,
                      __private const short h) {
  EMPTY_KERNEL
  const int x = get_global_id(0);
  const int y = get_global_id(1);
  if (x >= w || y >= h) return;
  const int base = (y * w + x) * channels;
  if (channels == 3) {
    const float3 v = vload_half3(0, input + base);
    const float m = fmax(fmax(v.s0, v.s1), v.s2);
    const float3 e = exp(v - (float3)m);
    vstore_half3(e / (e.s0 + e.s1 + e.s2), 0, output + base);
    return;
  }
  float m = vload_half(base, input);
  for (int c = 1; c < channels; ++c) m = fmax(m, vload_half(base + c, input));
  float sum = 0.0f;
  for (int c = 0; c < channels; ++c) sum += exp(vload_half(base + c, input) - m);
  const float inv = 1.0f / sum;
  for (int c = 0; c < channels; ++c) {
    vstore_half(exp(vload_half(base + c, input) - m) * inv, base + c, output);
  }
}

#endif  // ENGINE_SOFTMAX_CL
