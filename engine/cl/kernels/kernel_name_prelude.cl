// Kernel-name prelude: placed before the engine sources once per
// combination of USE_BUFFER_WEIGHT and USE_BUFFER_OUT, so that one program
// holds every combination under its own kernel names.
#undef WEIGHT_MEM_TYPE
#undef OUTPUT_MEM_TYPE
#undef KERNEL_NAME
#undef OUTPUT_X1_FUNC
#undef OUTPUT_X4_FUNC
#undef WEIGHT_READ4

#ifdef USE_BUFFER_WEIGHT
#define WEIGHT_MEM_TYPE __global const half *
// Texel (x, y) of a weight image width texels wide, flattened row-major.
#define WEIGHT_READ4(weight, x, y, width) VLD4((y) * (width) + (x), weight)
#else
#define WEIGHT_MEM_TYPE __read_only image2d_t
#define WEIGHT_READ4(weight, x, y, width) READ_IMAGE(weight, engine_sampler, (int2)((x), (y)))
#endif

#if defined(USE_BUFFER_OUT) && defined(USE_BUFFER_WEIGHT)
#define KERNEL_NAME(name) name##_buf_weight_buf_out
#elif defined(USE_BUFFER_OUT)
#define KERNEL_NAME(name) name##_buf_out
#elif defined(USE_BUFFER_WEIGHT)
#define KERNEL_NAME(name) name##_buf_weight
#else
#define KERNEL_NAME(name) name
#endif

#ifdef USE_BUFFER_OUT
#define OUTPUT_MEM_TYPE __global half *
#define OUTPUT_X1_FUNC buffer_out_x1_anti_bounds
#define OUTPUT_X4_FUNC buffer_out_x4_anti_bounds
#else
#define OUTPUT_MEM_TYPE __write_only image2d_t
#define OUTPUT_X1_FUNC image_out_x1_anti_bounds
#define OUTPUT_X4_FUNC image_out_x4_anti_bounds
#endif
