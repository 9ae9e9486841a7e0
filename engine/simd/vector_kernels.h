// The two-variant CPU kernels of BinaryOp, Pooling and Gemm.  Like the
// convolution kernels each exists twice: the wide build (AVX+FMA on
// 128-bit vectors, chosen at run time) and the plain one (SSE).  All work
// on NHWC float planes, four channels at a time with a scalar-width tail.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/simd/conv_kernels.h"

namespace engine {
namespace simd {

// Extents of one operand of an elementwise operation.
struct Extents {
  int n = 1, h = 1, w = 1, c = 1;
};

// out = a op b over count values of equal shape (op: kOpAdd, kOpSub,
// kOpMul), then the epilogue.
void BinaryEqualPlain(const float* a, const float* b, float* out, size_t count, int op,
                      Epilogue e);
void BinaryEqualWide(const float* a, const float* b, float* out, size_t count, int op,
                     Epilogue e);

// Broadcasting form: each operand is read at the output coordinate clamped
// to its own extents, and an operand with one channel gives that value to
// every channel.
void BinaryBroadcastPlain(const float* a, const Extents& ea, const float* b, const Extents& eb,
                          float* out, const Extents& eo, int op, Epilogue e);
void BinaryBroadcastWide(const float* a, const Extents& ea, const float* b, const Extents& eb,
                         float* out, const Extents& eo, int op, Epilogue e);

struct PoolGeometry {
  int in_h = 0, in_w = 0, c = 0;
  int out_h = 0, out_w = 0;
  int kernel_h = 0, kernel_w = 0;
  int stride_h = 1, stride_w = 1;
  int pad_h0 = 0, pad_w0 = 0;
  int dilation_h = 1, dilation_w = 1;
  bool average = false;
};

// Max or average over each window; taps outside the input are skipped, so
// the average divides by the taps inside.  A window with no tap inside the
// input (possible when a pad reaches the kernel size) gives 0 for both.
void PoolPlain(const PoolGeometry& g, const float* in, float* out);
void PoolWide(const PoolGeometry& g, const float* in, float* out);

// out[i] = alpha * sum_k W(i, k) x[k] + beta * bias[i] (bias may be null),
// i < n, k < k_len.  W is stored n rows of k_len values, or with trans_b
// k_len rows of n values.
void GemmPlain(const float* w, const float* x, const float* bias, int64_t n, int64_t k_len,
               bool trans_b, float alpha, float beta, float* out);
void GemmWide(const float* w, const float* x, const float* bias, int64_t n, int64_t k_len,
              bool trans_b, float alpha, float beta, float* out);

}  // namespace simd
}  // namespace engine
