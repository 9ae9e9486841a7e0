// conv1 for tile-based GPUs: each 8x4 work-group stages a 6x10 window of
// the luma plane in local memory and computes one pixel per work item.
__kernel __attribute__((reqd_work_group_size(8, 4, 1)))
void jnd_conv1_3x3_s1x1_n4_c1(__global const unsigned char *srcImg, OUT_TYPE dstImg,
                              __constant DATA_TYPE *weight_bias
                                  __ATTRIBUTE_MAX_CONSANT_SIZE_(40 * sizeof(DATA_TYPE)),
                              int width, int height, int stride_in, int stride_out) {
  __local DATA_TYPE win[6][10];
  const int lx = get_local_id(0);
  const int ly = get_local_id(1);
  const int index = ly * 8 + lx;
  if (index < 30) {
    const DATA_TYPE scale = (DATA_TYPE)(1.0f / 255.0f);
    const int i = index / 10;
    const int j = index % 10;
    const int col = clamp((int)get_group_id(0) * 8 + j - 1, 0, width - 1);
    const int row0 = clamp((int)get_group_id(1) * 4 + i - 1, 0, height - 1);
    const int row1 = clamp((int)get_group_id(1) * 4 + i + 2, 0, height - 1);
    win[i][j] = CONVERT(srcImg[row0 * stride_in + col]) * scale;
    win[i + 3][j] = CONVERT(srcImg[row1 * stride_in + col]) * scale;
  }
  barrier(CLK_LOCAL_MEM_FENCE);

  const int x = get_global_id(0);
  const int y = get_global_id(1);
  if (x >= width || y >= height) return;
  DATA_TYPE4 out = JND_LOAD4(9, weight_bias);
  for (int ky = 0; ky < 3; ++ky)
    for (int kx = 0; kx < 3; ++kx)
      out = mad(JND_LOAD4(ky * 3 + kx, weight_bias), (DATA_TYPE4)(win[ly + ky][lx + kx]), out);
  out = fmax(out, (DATA_TYPE4)(0));
#ifdef USE_BUFFER_OUT
  jnd_store_pixel(out, dstImg, y * stride_out + 4 * x);
#else
  WRITE_IMAGE(dstImg, (int2)(x, y), out);
#endif
}
