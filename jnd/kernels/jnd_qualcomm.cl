// JND kernels for mobile GPUs that read the luma plane as an RGBA 8-bit
// image (one texel = 4 horizontal pixels) and write the intermediates into
// buffers that the next layer reads as images.

__kernel void jnd_conv1_3x3_s1x1_n4_c1(__read_only image2d_t srcImg, __global DATA_TYPE *dstImg,
                                       __constant DATA_TYPE *weight_bias
                                           __ATTRIBUTE_MAX_CONSANT_SIZE_(40 * sizeof(DATA_TYPE)),
                                       int width, int height, int stride) {
  const int gx = get_global_id(0);
  const int y = get_global_id(1);
  if (4 * gx >= width || y >= height) return;
  const DATA_TYPE4 bias = JND_LOAD4(9, weight_bias);
  DATA_TYPE4 out[4] = {bias, bias, bias, bias};
  for (int ky = 0; ky < 3; ++ky) {
    // Neighbours come from the clamped 4-pixel groups: the left neighbour
    // of pixel 0 is pixel 3, the right one of the last pixel is pixel W-4
    // when W is a multiple of 4, else that pixel itself (the host fills a
    // partial last group with it).
    const DATA_TYPE4 l = READ_IMAGE(srcImg, jnd_sampler, (int2)(gx - 1, y - 1 + ky));
    const DATA_TYPE4 c = READ_IMAGE(srcImg, jnd_sampler, (int2)(gx, y - 1 + ky));
    const DATA_TYPE4 r = READ_IMAGE(srcImg, jnd_sampler, (int2)(gx + 1, y - 1 + ky));
    const DATA_TYPE in[6] = {l.s3, c.s0, c.s1, c.s2, c.s3, r.s0};
    for (int kx = 0; kx < 3; ++kx) {
      const DATA_TYPE4 w = JND_LOAD4(ky * 3 + kx, weight_bias);
      for (int p = 0; p < 4; ++p) out[p] = mad(w, (DATA_TYPE4)(in[p + kx]), out[p]);
    }
  }
  const int pos = y * stride + 16 * gx;
  for (int p = 0; p < 4 && 4 * gx + p < width; ++p)
    jnd_store_pixel(fmax(out[p], (DATA_TYPE4)(0)), dstImg, pos + 4 * p);
}

__kernel void jnd_conv2_3x3_s1x1_n4_c4(__read_only image2d_t srcImg, __global DATA_TYPE *dstImg,
                                       __constant DATA_TYPE *weight_bias
                                           __ATTRIBUTE_MAX_CONSANT_SIZE_(148 * sizeof(DATA_TYPE)),
                                       int width, int height, int stride) {
  const int x = get_global_id(0) * 2;
  const int y = get_global_id(1) * 2;
  if (x >= width || y >= height) return;
  const DATA_TYPE4 bias = JND_LOAD4(36, weight_bias);
  DATA_TYPE4 o[4] = {bias, bias, bias, bias};
  jnd_conv2_block(srcImg, weight_bias, x, y, o);
  for (int k = 0; k < 4; ++k) {
    const int px = x + (k & 1);
    const int py = y + (k >> 1);
    if (px < width && py < height)
      jnd_store_pixel(fmax(o[k], (DATA_TYPE4)(0)), dstImg, py * stride + 4 * px);
  }
}

// Four vertically adjacent output pixels per work item.  The weights are
// DATA_TYPE like every other layer's, so host packing and kernel agree.
__kernel void jnd_conv3_3x3_s1x1_n1_c4(__read_only image2d_t srcImg, __global unsigned char *dstImg,
                                       __constant DATA_TYPE *weight_bias
                                           __ATTRIBUTE_MAX_CONSANT_SIZE_(40 * sizeof(DATA_TYPE)),
                                       int width, int height, int stride) {
  const int x = get_global_id(0);
  const int y = get_global_id(1) * 4;
  if (x >= width || y >= height) return;
  const DATA_TYPE bias = weight_bias[36];
  DATA_TYPE acc[4] = {bias, bias, bias, bias};
  for (int r = 0; r < 6; ++r) {  // source rows y-1 .. y+4
    for (int kx = 0; kx < 3; ++kx) {
      const DATA_TYPE4 in = READ_IMAGE(srcImg, jnd_sampler, (int2)(x - 1 + kx, y - 1 + r));
      for (int j = 0; j < 4; ++j) {
        const int ky = r - j;  // output row y+j reads source rows y+j-1 .. y+j+1
        if (ky >= 0 && ky <= 2) acc[j] += dot(JND_LOAD4(ky * 3 + kx, weight_bias), in);
      }
    }
  }
  for (int j = 0; j < 4 && y + j < height; ++j)
    dstImg[(y + j) * stride + x] =
        convert_uchar_sat_rte(mad(acc[j], (DATA_TYPE)255.0f, (DATA_TYPE)0.0f));
}
