// Helpers shared by every JND kernel variant.  Written against the shared
// prelude (DATA_TYPE, READ_IMAGE, CONVERT, VST4 ...).
//
// Packed weights (one __constant buffer per layer, element type DATA_TYPE):
//   conv1: 4-vector of output channels per tap t = ky*3+kx at t; bias at 9
//   conv2: 4-vector of output channels per (tap, ic) at t*4+ic; bias at 36
//   conv3: 4-vector of input channels per tap at t; bias at element 36

__constant sampler_t jnd_sampler =
    CLK_NORMALIZED_COORDS_FALSE | CLK_ADDRESS_CLAMP_TO_EDGE | CLK_FILTER_NEAREST;

#define JND_LOAD4(index, weights) (((__constant DATA_TYPE4 *)(weights))[(index)])

// One conv2 tap: every input channel of `in`, in order, into the four
// output channels.
inline DATA_TYPE4 jnd_tap_4x4(DATA_TYPE4 acc, DATA_TYPE4 in, __constant DATA_TYPE *w, int tap) {
  acc = mad(JND_LOAD4(tap * 4 + 0, w), (DATA_TYPE4)(in.s0), acc);
  acc = mad(JND_LOAD4(tap * 4 + 1, w), (DATA_TYPE4)(in.s1), acc);
  acc = mad(JND_LOAD4(tap * 4 + 2, w), (DATA_TYPE4)(in.s2), acc);
  acc = mad(JND_LOAD4(tap * 4 + 3, w), (DATA_TYPE4)(in.s3), acc);
  return acc;
}

// conv2 over the 2x2 block at (x, y): source rows y-1 .. y+2 at columns
// x-1 .. x+2, all reads clamped to the image.  o[0], o[1] are row y,
// o[2], o[3] row y+1; they arrive holding the bias.
inline void jnd_conv2_block(__read_only image2d_t src, __constant DATA_TYPE *w, int x, int y,
                            DATA_TYPE4 *o) {
#pragma unroll
  for (int r = 0; r < 4; ++r) {
    DATA_TYPE4 t[4];
#pragma unroll
    for (int c = 0; c < 4; ++c) t[c] = READ_IMAGE(src, jnd_sampler, (int2)(x - 1 + c, y - 1 + r));
#pragma unroll
    for (int kx = 0; kx < 3; ++kx) {
      if (r <= 2) {
        o[0] = jnd_tap_4x4(o[0], t[kx], w, r * 3 + kx);
        o[1] = jnd_tap_4x4(o[1], t[kx + 1], w, r * 3 + kx);
      }
      if (r >= 1) {
        o[2] = jnd_tap_4x4(o[2], t[kx], w, (r - 1) * 3 + kx);
        o[3] = jnd_tap_4x4(o[3], t[kx + 1], w, (r - 1) * 3 + kx);
      }
    }
  }
}

// conv3 over the 2x2 block at (x, y): per-channel accumulators a[0..3]
// (row y: 0, 1; row y+1: 2, 3), starting from 0.
inline void jnd_conv3_block(__read_only image2d_t src, __constant DATA_TYPE *w, int x, int y,
                            DATA_TYPE4 *a) {
#pragma unroll
  for (int r = 0; r < 4; ++r) {
    DATA_TYPE4 t[4];
#pragma unroll
    for (int c = 0; c < 4; ++c) t[c] = READ_IMAGE(src, jnd_sampler, (int2)(x - 1 + c, y - 1 + r));
#pragma unroll
    for (int kx = 0; kx < 3; ++kx) {
      if (r <= 2) {
        const DATA_TYPE4 wt = JND_LOAD4(r * 3 + kx, w);
        a[0] = mad(wt, t[kx], a[0]);
        a[1] = mad(wt, t[kx + 1], a[1]);
      }
      if (r >= 1) {
        const DATA_TYPE4 wt = JND_LOAD4((r - 1) * 3 + kx, w);
        a[2] = mad(wt, t[kx], a[2]);
        a[3] = mad(wt, t[kx + 1], a[3]);
      }
    }
  }
}

// Output byte of one conv3 accumulator: channel sum plus the bias, x255.
inline DATA_TYPE jnd_conv3_value(DATA_TYPE4 a, DATA_TYPE bias) {
  return mad(dot(a, (DATA_TYPE4)(1)) + bias, (DATA_TYPE)255.0f, (DATA_TYPE)0.0f);
}

// Stores one pixel (4 channels) into an intermediate buffer at element
// position pos: bytes under QUANT, half values otherwise (the buffer backs
// an 8-bit or half-float RGBA image).
inline void jnd_store_pixel(DATA_TYPE4 v, __global DATA_TYPE *dst, int pos) {
#if QUANT
  vstore4(convert_uchar4_sat_rte(v), 0, (__global uchar *)dst + pos);
#else
  VST4(v, 0, (__global half *)dst + pos);
#endif
}

// Writes the 2x2 conv3 result, keeping inside the frame.
inline void jnd_store_output_block(DATA_TYPE4 *a, DATA_TYPE bias, __global unsigned char *dst,
                                   int x, int y, int width, int height, int stride) {
  const uchar2 top = convert_uchar2_sat_rte((DATA_TYPE2)(jnd_conv3_value(a[0], bias),
                                                         jnd_conv3_value(a[1], bias)));
  const uchar2 bottom = convert_uchar2_sat_rte((DATA_TYPE2)(jnd_conv3_value(a[2], bias),
                                                            jnd_conv3_value(a[3], bias)));
  __global unsigned char *row = dst + y * stride + x;
  row[0] = top.s0;
  if (x + 1 < width) row[1] = top.s1;
  if (y + 1 < height) {
    row += stride;
    row[0] = bottom.s0;
    if (x + 1 < width) row[1] = bottom.s1;
  }
}
