// Blocks shared by the layer kernels: the sampler, activations,
// multiply-accumulate blocks and the output functions for images (layout 0)
// and NHWC half buffers.  Compiled once per program.
//
// The layer kernels work on one image (n = 1): the third global dimension
// runs over output rows.  Image outputs skip rows past the image; buffer
// outputs rely on an exact third dimension (no kernel takes out_h except
// where its argument list has it).
#ifndef ENGINE_CONV_BLOCKS_CL
#define ENGINE_CONV_BLOCKS_CL

// Unnormalised coordinates, nearest texel, reads outside give zero.
__constant sampler_t engine_sampler =
    CLK_NORMALIZED_COORDS_FALSE | CLK_ADDRESS_CLAMP | CLK_FILTER_NEAREST;

// Activation flags: 1 rectifies, 5 is the logistic function.
#define ACTIVATION_RELU 1
#define ACTIVATION_SIGMOID 5

#define RELU1(a) a = fmax(a, (DATA_TYPE4)0)
#define RELU2(a, b) RELU1(a); RELU1(b)
#define RELU4(a, b, c, d) RELU2(a, b); RELU2(c, d)
#define SIGMOID1(a) a = (DATA_TYPE4)1 / ((DATA_TYPE4)1 + exp(-(a)))
#define SIGMOID2(a, b) SIGMOID1(a); SIGMOID1(b)
#define SIGMOID4(a, b, c, d) SIGMOID2(a, b); SIGMOID2(c, d)

#define ACTIVATE1(flag, a) \
  if ((flag) == ACTIVATION_RELU) { RELU1(a); } \
  else if ((flag) == ACTIVATION_SIGMOID) { SIGMOID1(a); }
#define ACTIVATE4(flag, a, b, c, d) \
  if ((flag) == ACTIVATION_RELU) { RELU4(a, b, c, d); } \
  else if ((flag) == ACTIVATION_SIGMOID) { SIGMOID4(a, b, c, d); }

inline DATA_TYPE activate_scalar(DATA_TYPE v, int flag) {
  if (flag == ACTIVATION_RELU) return fmax(v, (DATA_TYPE)0);
  if (flag == ACTIVATION_SIGMOID) return (DATA_TYPE)1 / ((DATA_TYPE)1 + exp(-v));
  return v;
}

// acc (4 output channels) += in (4 input channels) times the weight texels
// w0..w3 (the 4 output channels of input channels 0..3).
#define MAC4x4(acc, in, w0, w1, w2, w3) \
  acc = mad((DATA_TYPE4)((in).s0), (w0), acc); \
  acc = mad((DATA_TYPE4)((in).s1), (w1), acc); \
  acc = mad((DATA_TYPE4)((in).s2), (w2), acc); \
  acc = mad((DATA_TYPE4)((in).s3), (w3), acc)
// The same over two input channels.
#define MAC2x4(acc, in, w0, w1) \
  acc = mad((DATA_TYPE4)((in).s0), (w0), acc); \
  acc = mad((DATA_TYPE4)((in).s1), (w1), acc)

// Zero in the channels of a 4-channel group at and beyond count.
inline DATA_TYPE4 keep_channels(DATA_TYPE4 v, int count) {
  if (count < 4) v.s3 = 0;
  if (count < 3) v.s2 = 0;
  if (count < 2) v.s1 = 0;
  return v;
}

// Layout-0 texel of input pixel (x, row) and channel block cb; a row of -1
// or a pixel outside the image reads zero.
inline DATA_TYPE4 read_pixel_block(__read_only image2d_t img, int x, int row, int blocks, int cb) {
  return READ_IMAGE(img, engine_sampler, (int2)(x < 0 ? -1 : x * blocks + cb, row));
}

// Component k (0 to 3) of a vector.
inline DATA_TYPE pick_channel(DATA_TYPE4 v, int k) {
  return k == 0 ? v.s0 : (k == 1 ? v.s1 : (k == 2 ? v.s2 : v.s3));
}

// Channel ch of pixel (x, y) of a layout-0 image with the given blocks per
// pixel.
inline DATA_TYPE read_channel(__read_only image2d_t img, int x, int y, int blocks, int ch) {
  return pick_channel(READ_IMAGE(img, engine_sampler, (int2)(x * blocks + (ch >> 2), y)), ch & 3);
}

// Padding of the 3x3 stride-1 kernels, from the input image's width and
// the output width: 1 keeps the size, 0 loses two pixels.
inline int conv3x3_pad(__read_only image2d_t input, int in_blocks, int out_w) {
  const int in_w = get_image_width(input) / in_blocks;
  return (out_w - in_w + 2) >> 1;
}

// Image outputs (layout 0): channel group ob of pixel x on row y; channels
// past out_c are written as zero, pixels at or past out_w and rows past the
// image are skipped.
inline void image_out_x1_anti_bounds(__write_only image2d_t out, DATA_TYPE4 v, int out_c,
                                     int out_w, int ob, int x, int y) {
  if (x >= out_w || y >= get_image_height(out)) return;
  const int blocks = (out_c + 3) >> 2;
  WRITE_IMAGE(out, (int2)(x * blocks + ob, y), keep_channels(v, out_c - (ob << 2)));
}

inline void image_out_x4_anti_bounds(__write_only image2d_t out, DATA_TYPE4 v0, DATA_TYPE4 v1,
                                     DATA_TYPE4 v2, DATA_TYPE4 v3, int out_c, int out_w, int ob,
                                     int x, int y) {
  if (x >= out_w || y >= get_image_height(out)) return;
  const int blocks = (out_c + 3) >> 2;
  const int count = out_c - (ob << 2);
  const int pos = x * blocks + ob;
  WRITE_IMAGE(out, (int2)(pos, y), keep_channels(v0, count));
  if (x + 1 < out_w) WRITE_IMAGE(out, (int2)(pos + blocks, y), keep_channels(v1, count));
  if (x + 2 < out_w) WRITE_IMAGE(out, (int2)(pos + 2 * blocks, y), keep_channels(v2, count));
  if (x + 3 < out_w) WRITE_IMAGE(out, (int2)(pos + 3 * blocks, y), keep_channels(v3, count));
}

// Buffer outputs: NHWC halves at (y * out_w + x) * out_c + channel; only the
// channels that exist are stored.
inline void store_channel_group(__global half *out, int base, DATA_TYPE4 v, int count) {
  VST(v.s0, base, out);
  if (count > 1) VST(v.s1, base + 1, out);
  if (count > 2) VST(v.s2, base + 2, out);
  if (count > 3) VST(v.s3, base + 3, out);
}

inline void buffer_out_x1_anti_bounds(__global half *out, DATA_TYPE4 v, int out_c, int out_w,
                                      int ob, int x, int y) {
  if (x >= out_w) return;
  const int c0 = ob << 2;
  store_channel_group(out, (y * out_w + x) * out_c + c0, v, out_c - c0);
}

inline void buffer_out_x4_anti_bounds(__global half *out, DATA_TYPE4 v0, DATA_TYPE4 v1,
                                      DATA_TYPE4 v2, DATA_TYPE4 v3, int out_c, int out_w, int ob,
                                      int x, int y) {
  if (x >= out_w) return;
  const int c0 = ob << 2;
  const int count = out_c - c0;
  const int base = (y * out_w + x) * out_c + c0;
  store_channel_group(out, base, v0, count);
  if (x + 1 < out_w) store_channel_group(out, base + out_c, v1, count);
  if (x + 2 < out_w) store_channel_group(out, base + 2 * out_c, v2, count);
  if (x + 3 < out_w) store_channel_group(out, base + 3 * out_c, v3, count);
}

#endif  // ENGINE_CONV_BLOCKS_CL
