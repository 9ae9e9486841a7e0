// conv2 and conv3 for generic and tile-based GPUs: a 2x2 block of pixels
// per work item.
__kernel void jnd_conv2_3x3_s1x1_n4_c4(__read_only image2d_t srcImg, OUT_TYPE dstImg,
                                       __constant DATA_TYPE *weight_bias
                                           __ATTRIBUTE_MAX_CONSANT_SIZE_(148 * sizeof(DATA_TYPE)),
                                       int width, int height, int stride) {
  const int x = get_global_id(0) * 2;
  const int y = get_global_id(1) * 2;
  if (x >= width || y >= height) return;
  const DATA_TYPE4 bias = JND_LOAD4(36, weight_bias);
  DATA_TYPE4 o[4] = {bias, bias, bias, bias};
  jnd_conv2_block(srcImg, weight_bias, x, y, o);
#pragma unroll
  for (int k = 0; k < 4; ++k) {
    const int px = x + (k & 1);
    const int py = y + (k >> 1);
    if (px >= width || py >= height) continue;
    const DATA_TYPE4 v = fmax(o[k], (DATA_TYPE4)(0));
#ifdef USE_BUFFER_OUT
    jnd_store_pixel(v, dstImg, py * stride + 4 * px);
#else
    WRITE_IMAGE(dstImg, (int2)(px, py), v);
#endif
  }
}

__kernel void jnd_conv3_3x3_s1x1_n1_c4(__read_only image2d_t srcImg, __global unsigned char *dstImg,
                                       __constant DATA_TYPE *weight_bias
                                           __ATTRIBUTE_MAX_CONSANT_SIZE_(40 * sizeof(DATA_TYPE)),
                                       int width, int height, int stride) {
  const int x = get_global_id(0) * 2;
  const int y = get_global_id(1) * 2;
  if (x >= width || y >= height) return;
  DATA_TYPE4 a[4] = {(DATA_TYPE4)(0), (DATA_TYPE4)(0), (DATA_TYPE4)(0), (DATA_TYPE4)(0)};
  jnd_conv3_block(srcImg, weight_bias, x, y, a);
  jnd_store_output_block(a, weight_bias[36], dstImg, x, y, width, height, stride);
}
