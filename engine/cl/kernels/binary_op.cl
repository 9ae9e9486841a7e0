// Elementwise add (op 0), subtract (1) or multiply (2) of two layout-0
// images with broadcasting: each input is read at the output coordinate
// clamped to its own extent (x, y and channel group), and an input with one
// channel gives that value to every channel.  Work item: channel group ob,
// pixel (x, y); global ceil(c / 4), w, h.

#ifndef ENGINE_BINARY_OP_CL
#define ENGINE_BINARY_OP_CL
inline DATA_TYPE4 broadcast_read(__read_only image2d_t img, int ob, int x, int y, int c, int w,
                                 int h) {
  const int blocks = (c + 3) >> 2;
  const DATA_TYPE4 v = READ_IMAGE(img, engine_sampler,
                                   (int2)(min(x, w - 1) * blocks + min(ob, blocks - 1), min(y, h - 1)));
  return c == 1 ? (DATA_TYPE4)(v.s0) : v;
}
#endif  // ENGINE_BINARY_OP_CL

__kernel void KERNEL_NAME(binary_op)(__read_only image2d_t input0, __read_only image2d_t input1,
                                     OUTPUT_MEM_TYPE output, __private const short channels,
                                     __private const short w, __private const short h,
                                     __private const short in0_c, __private const short in0_w,
                                     __private const short in0_h, __private const short in1_c,
                                     __private const short in1_w, __private const short in1_h,
                                     __private const short op,
                                     __private const short activation_flag) {
  EMPTY_KERNEL
  const int ob = get_global_id(0);
  const int x = get_global_id(1);
  const int y = get_global_id(2);
  if ((ob << 2) >= channels || x >= w || y >= h) return;
  const DATA_TYPE4 a = broadcast_read(input0, ob, x, y, in0_c, in0_w, in0_h);
  const DATA_TYPE4 b = broadcast_read(input1, ob, x, y, in1_c, in1_w, in1_h);
  DATA_TYPE4 v = op == 0 ? a + b : (op == 1 ? a - b : a * b);
  ACTIVATE1(activation_flag, v);
  OUTPUT_X1_FUNC(output, v, channels, w, ob, x, y);
}
