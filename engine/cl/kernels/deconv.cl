// Transposed convolutions, stride 2, even kernel width, input channels and
// output width multiples of 4: out[oy][ox][oc] = bias[oc] + sum of
// weight[ic][i][j][oc] * in[iy][ix][ic] over oy = 2 iy + i - pad_t,
// ox = 2 ix + j - pad_l.  The kernels take kw - pad_l - 1 and
// kh - pad_t - 1.  Input image in layout 0, bias a constant half buffer
// padded to whole channel groups.
//   "deconv_s2x2_nx": output channels a multiple of 4, output image (or
//   buffer in the buffer-output programs); weights in layout 6 of the
//   (n = in_c, kh, kw, c = out_c) weight: texel (j * out_c + oc,
//   icb * kh + i) holds input channels 4icb..4icb+3.  Work item: channel
//   group ob, pixels 4 * xg .. 4 * xg + 3; global ceil(out_c / 4),
//   ceil(out_w / 4), out_h.
//   "deconv_s2x2_cx": any output channel count, output an NHWC half
//   buffer; weights in layout 0 of the same weight: texel
//   (j * ceil(out_c / 4) + ocb, ic * kh + i) holds output channels
//   4ocb..4ocb+3.  Work item: channel oc, pixels 4 * xg .. 4 * xg + 3;
//   global out_c, ceil(out_w / 4), out_h.

__kernel void KERNEL_NAME(deconv_s2x2_nx)(__read_only image2d_t input, OUTPUT_MEM_TYPE output,
                                          WEIGHT_MEM_TYPE weight,
                                          __constant half *bias __ATTRIBUTE_MAX_CONSANT_SIZE_(4096),
                                          __private const short in_channels,
                                          __private const short out_channels,
                                          __private const short out_w,
                                          __private const short in_h,
                                          __private const short kernel_w,
                                          __private const short kernel_h,
                                          __private const short rpad_w,
                                          __private const short rpad_h) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x0 = get_global_id(1) << 2;
  const int y = get_global_id(2);
  if ((ob << 2) >= out_channels || x0 >= out_w) return;

  const int pad_l = kernel_w - 1 - rpad_w;
  const int pad_t = kernel_h - 1 - rpad_h;
  const int in_blocks = in_channels >> 2;
  const int weight_width = kernel_w * out_channels;
  const int oc0 = ob << 2;
  DATA_TYPE4 acc[4];
  acc[0] = VLD4(ob, bias);
  acc[1] = acc[0];
  acc[2] = acc[0];
  acc[3] = acc[0];
  for (int i = 0; i < kernel_h; ++i) {
    const int ty = y + pad_t - i;
    if (ty < 0 || (ty & 1) != 0 || (ty >> 1) >= in_h) continue;
    const int row = ty >> 1;
    for (int p = 0; p < 4; ++p) {
      const int ox = x0 + p;
      // Taps j of the parity of ox + pad_l: j, j + 2, ...
      for (int j = (ox + pad_l) & 1; j < kernel_w; j += 2) {
        const int tx = ox + pad_l - j;
        if (tx < 0) break;
        const int ix = tx >> 1;
        for (int cb = 0; cb < in_blocks; ++cb) {
          const DATA_TYPE4 in = read_pixel_block(input, ix, row, in_blocks, cb);
          const int wx = j * out_channels + oc0;
          const int wy = cb * kernel_h + i;
          const DATA_TYPE4 w0 = WEIGHT_READ4(weight, wx, wy, weight_width);
          const DATA_TYPE4 w1 = WEIGHT_READ4(weight, wx + 1, wy, weight_width);
          const DATA_TYPE4 w2 = WEIGHT_READ4(weight, wx + 2, wy, weight_width);
          const DATA_TYPE4 w3 = WEIGHT_READ4(weight, wx + 3, wy, weight_width);
          acc[p] += (DATA_TYPE4)(dot(in, w0), dot(in, w1), dot(in, w2), dot(in, w3));
        }
      }
    }
  }
  OUTPUT_X4_FUNC(output, acc[0], acc[1], acc[2], acc[3], out_channels, out_w, ob, x0, y);
}

__kernel void KERNEL_NAME(deconv_s2x2_cx)(__read_only image2d_t input, __global half *output,
                                          WEIGHT_MEM_TYPE weight,
                                          __constant half *bias __ATTRIBUTE_MAX_CONSANT_SIZE_(4096),
                                          __private const short in_channels,
                                          __private const short out_channels,
                                          __private const short out_w,
                                          __private const short in_h,
                                          __private const short kernel_w,
                                          __private const short kernel_h,
                                          __private const short rpad_w,
                                          __private const short rpad_h) {
  EMPTY_KERNEL
  const int oc = get_global_id(0);
  const int x0 = get_global_id(1) << 2;
  const int y = get_global_id(2);
  if (oc >= out_channels || x0 >= out_w) return;

  const int pad_l = kernel_w - 1 - rpad_w;
  const int pad_t = kernel_h - 1 - rpad_h;
  const int in_blocks = in_channels >> 2;
  const int out_blocks = (out_channels + 3) >> 2;
  const int weight_width = kernel_w * out_blocks;
  const int ocb = oc >> 2;
  const int lane = oc & 3;
  DATA_TYPE acc[4];
  const DATA_TYPE b = VLD(oc, bias);
  for (int p = 0; p < 4; ++p) acc[p] = b;
  for (int i = 0; i < kernel_h; ++i) {
    const int ty = y + pad_t - i;
    if (ty < 0 || (ty & 1) != 0 || (ty >> 1) >= in_h) continue;
    const int row = ty >> 1;
    for (int p = 0; p < 4; ++p) {
      const int ox = x0 + p;
      for (int j = (ox + pad_l) & 1; j < kernel_w; j += 2) {
        const int tx = ox + pad_l - j;
        if (tx < 0) break;
        const int ix = tx >> 1;
        const int wx = j * out_blocks + ocb;
        for (int cb = 0; cb < in_blocks; ++cb) {
          const DATA_TYPE4 in = read_pixel_block(input, ix, row, in_blocks, cb);
          DATA_TYPE4 w;
          for (int q = 0; q < 4; ++q) {
            const DATA_TYPE4 t = WEIGHT_READ4(weight, wx, ((cb << 2) + q) * kernel_h + i, weight_width);
            const DATA_TYPE v = lane == 0 ? t.s0 : (lane == 1 ? t.s1 : (lane == 2 ? t.s2 : t.s3));
            if (q == 0) w.s0 = v;
            else if (q == 1) w.s1 = v;
            else if (q == 2) w.s2 = v;
            else w.s3 = v;
          }
          acc[p] += dot(in, w);
        }
      }
    }
  }
  for (int p = 0; p < 4; ++p) {
    if (x0 + p < out_w) VST(acc[p], (y * out_w + x0 + p) * out_channels + oc, output);
  }
}
