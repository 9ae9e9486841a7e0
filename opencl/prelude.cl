#define EMPTY_KERNEL ;
#ifdef HALF_FP
#pragma OPENCL EXTENSION cl_khr_fp16 : enable
#define DATA_TYPE half
#define DATA_TYPE2 half2
#define DATA_TYPE3 half3
#define DATA_TYPE4 half4
#define DATA_TYPE8 half8
#define DATA_TYPE16 half16
#define WRITE_IMAGE write_imageh
#define READ_IMAGE read_imageh
#define VLD8 vload8
#define VLD4 vload4
#define VLD2 vload2
#define VLD3 vload3
#define VLD vload_half
#define VST(value, offset, pointer) ((pointer)[(offset)] = (value))
#define VST2 vstore2
#define VST3 vstore3
#define VST4 vstore4
#define CONVERT convert_half
#define CONVERT3 convert_half3
#define CONVERT4 convert_half4
#define CONVERT8 convert_half8
#else
#define DATA_TYPE float
#define DATA_TYPE2 float2
#define DATA_TYPE3 float3
#define DATA_TYPE4 float4
#define DATA_TYPE8 float8
#define DATA_TYPE16 float16
#define WRITE_IMAGE write_imagef
#define READ_IMAGE read_imagef
#define VLD8 vload_half8
#define VLD4 vload_half4
#define VLD2 vload_half2
#define VLD3 vload_half3
#define VLD vload_half
#define VST vstore_half
#define VST2 vstore_half2
#define VST3 vstore_half3
#define VST4 vstore_half4
#define CONVERT convert_float
#define CONVERT3 convert_float3
#define CONVERT4 convert_float4
#define CONVERT8 convert_float8
#endif
#ifdef QUALCOMM
#define __ATTRIBUTE_MAX_CONSANT_SIZE_(size) __attribute__((max_constant_size(size)))
#else
#define __ATTRIBUTE_MAX_CONSANT_SIZE_(size)
#endif
#define GLOBAL_WORK_GROUP_SIZE_DIM2 \
    __private const short global_size_dim0, \
    __private const short global_size_dim1
#define GLOBAL_WORK_GROUP_SIZE_DIM3 \
    __private const short global_size_dim0, \
    __private const short global_size_dim1, \
    __private const short global_size_dim2
#ifdef USE_BUFFER_OUT
#define OUT_TYPE __global DATA_TYPE *
#else
#define OUT_TYPE write_only image2d_t
#endif
#define READ_IMAGEX0(image, sampler, pos) CONVERT4((float4)(0.35f, 0.12f, 0.45f, 0.66f))
#define READ_IMAGEX1(image, sampler, pos) CONVERT4((float4)(0.11f, 0.62f, 0.15f, 0.46f))
#define READ_IMAGEX2(image, sampler, pos) CONVERT4((float4)(0.25f, 0.32f, 0.45f, 0.36f))
#define READ_IMAGEX3(image, sampler, pos) CONVERT4((float4)(0.85f, 0.72f, 0.45f, 0.56f))
#define VLD8X0(offset, pointer) CONVERT8((float8)(1.3f, 0.10f, 0.33f, 0.45f, 1.2f, 0.12f, 0.43f, 0.45f))
#define VLD8X1(offset, pointer) CONVERT8((float8)(1.1f, 0.11f, 0.13f, 0.25f, 2.2f, 0.32f, 0.41f, 0.41f))
#define VLD4X0(offset, pointer) CONVERT4((float4)(1.3f, 0.10f, 0.33f, 0.45f))
#define VLD4X1(offset, pointer) CONVERT4((float4)(1.1f, 0.11f, 0.13f, 0.25f))
#define VLD4X2(offset, pointer) CONVERT4((float4)(1.4f, 0.20f, 0.43f, 0.55f))
#define VLD4X3(offset, pointer) CONVERT4((float4)(1.5f, 0.31f, 0.13f, 0.25f))
#define VLD16 vload16
#define VLD16X(pos, pointer) ((uchar16)(3, 5, 6, 8, 4, 9, 11, 13, 3, 5, 6, 18, 24, 29, 31, 43))
