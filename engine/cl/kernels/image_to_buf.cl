// Layout-0 image to an NHWC half buffer (the same in every program
// variant, so compiled once).  Only the channels that exist are stored.
// Global size ceil(channels / 4), w, h.
#ifndef ENGINE_IMAGE_TO_BUF_CL
#define ENGINE_IMAGE_TO_BUF_CL

__kernel void image_to_buf(__read_only image2d_t input, __global half *output,
                           __private const short channels, __private const short w,
                           __private const short h) {
  EMPTY_KERNEL
  const int cb = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((cb << 2) >= channels || x >= w || y >= h) return;
  const int blocks = (channels + 3) >> 2;
  const DATA_TYPE4 v = READ_IMAGE(input, engine_sampler, (int2)(x * blocks + cb, y));
  store_channel_group(output, (y * w + x) * channels + (cb << 2), v, channels - (cb << 2));
}

#endif  // ENGINE_IMAGE_TO_BUF_CL
