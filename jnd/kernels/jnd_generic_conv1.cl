// conv1 for generic GPUs: 4 horizontally adjacent pixels per work item,
// read straight from the luma buffer.
__kernel void jnd_conv1_3x3_s1x1_n4_c1(__global const unsigned char *srcImg, OUT_TYPE dstImg,
                                       __constant DATA_TYPE *weight_bias
                                           __ATTRIBUTE_MAX_CONSANT_SIZE_(40 * sizeof(DATA_TYPE)),
                                       int width, int height, int stride_in, int stride_out) {
  const int x = get_global_id(0) * 4;
  const int y = get_global_id(1);
  if (x >= width || y >= height) return;

  const DATA_TYPE scale = (DATA_TYPE)(1.0f / 255.0f);
  DATA_TYPE4 out[4] = {(DATA_TYPE4)(0), (DATA_TYPE4)(0), (DATA_TYPE4)(0), (DATA_TYPE4)(0)};
#pragma unroll
  for (int ky = 0; ky < 3; ++ky) {
    __global const unsigned char *row = srcImg + clamp(y + ky - 1, 0, height - 1) * stride_in;
    DATA_TYPE in[6];
#pragma unroll
    for (int i = 0; i < 6; ++i) in[i] = CONVERT(row[clamp(x + i - 1, 0, width - 1)]) * scale;
#pragma unroll
    for (int kx = 0; kx < 3; ++kx) {
      const DATA_TYPE4 w = JND_LOAD4(ky * 3 + kx, weight_bias);
#pragma unroll
      for (int p = 0; p < 4; ++p) out[p] = mad(w, (DATA_TYPE4)(in[p + kx]), out[p]);
    }
  }
  const DATA_TYPE4 bias = JND_LOAD4(9, weight_bias);
  for (int p = 0; p < 4 && x + p < width; ++p) {
    const DATA_TYPE4 v = fmax(out[p] + bias, (DATA_TYPE4)(0));
#ifdef USE_BUFFER_OUT
    jnd_store_pixel(v, dstImg, y * stride_out + 4 * (x + p));
#else
    WRITE_IMAGE(dstImg, (int2)(x + p, y), v);
#endif
  }
}
