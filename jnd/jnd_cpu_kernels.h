// The JND network on the CPU: the fixed-point form of a weight set and the
// row kernels that each instruction-set path provides.
//
// Arithmetic (the same, bit for bit, on every path).  The quantised OpenCL
// path keeps conv1 and conv2 activations as bytes q = round(127.5 x a), so
// each layer is an integer map from bytes to bytes:
//   conv1: q1 = clamp(round(127.5 b1 + sum (w1 / 2) p), 0, 255)     p = luma byte
//   conv2: q2 = clamp(round(127.5 b2 + sum w2 q1), 0, 255)
//   conv3: y  = clamp(round(255 b3 + sum 2 w3 q2), 0, 255)
// The weights become 16-bit integers with a number of fraction bits per
// output channel (as many as its largest weight allows, at most 15); the
// sums are exact 32-bit integers, the bias carries the rounding half, and
// an arithmetic shift and a clamp give the byte.  conv1 carries more:
// its input word holds the pixel twice, once scaled by kJndCpuInputScale,
// so each tap's weight has a coarse and a fine 16-bit part and about 22
// fraction bits (one activation a level off in conv1 moves the output of
// the steeper sets by two).  Integer sums make every path, and every
// split of a frame over threads, give identical bytes.
//
// Data layout.  Rows are arrays of 32-bit words, each word a pair of
// 16-bit values (low half first), so one 16-bit dot-product step
// multiplies both halves per pixel:
//   input rows  E[x] = (p[x] * kJndCpuInputScale, p[x])
//   activations A01[x] = (q0[x], q1[x]), A23[x] = (q2[x], q3[x])
// Every row carries the clamp-to-edge columns x = -1 and x = width, and
// has kJndCpuPad words before x = 0 and enough after the last vector for
// a path to read one full vector beyond it.
#pragma once

#include <cstdint>

#include "jnd/jnd_weights.h"

namespace jnd {

// The scale of the pixel's first copy in an input word.
constexpr int kJndCpuInputScale = 128;

// Words before x = 0 in every row (one 512-bit vector), and the multiple
// that row widths are rounded up to (two 512-bit vectors).
constexpr int kJndCpuPad = 16;
constexpr int kJndCpuWidthStep = 32;

// Words per row for a frame width: pad, the rounded width, pad.
inline int JndCpuRowWords(int width) {
  return kJndCpuPad + (width + kJndCpuWidthStep - 1) / kJndCpuWidthStep * kJndCpuWidthStep +
         kJndCpuPad;
}

// One weight set in fixed point, as pair words (low half first) ready to
// broadcast.  Biases include the rounding half of their layer's shift.
struct alignas(64) JndFixedNet {
  // conv1, per output channel and tap t = ky * 3 + kx: (coarse, fine)
  // with weight = coarse * kJndCpuInputScale + fine.
  int32_t c1[4][9];
  int32_t b1[4];
  // conv2, per output channel and tap t = ky * 3 + kx: (w[0][t], w[1][t])
  // for A01 and (w[2][t], w[3][t]) for A23.
  int32_t c2[4][9][2];
  int32_t b2[4];
  // conv3, per tap: (w[0][t], w[1][t]) and (w[2][t], w[3][t]).
  int32_t c3[9][2];
  int32_t b3;
  int shift1[4], shift2[4], shift3;
};

// Converts a weight set (stored order) to
// fixed point.  Non-finite values count as 0.
JndFixedNet QuantiseJndNet(const JNDNetWeights& weights);

// Packs two 16-bit values into a pair word.
inline int32_t JndPair(int lo, int hi) {
  return static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(lo))) |
                              (static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16));
}

// The row kernels of one instruction-set path.  Pointers address x = 0 of
// a row; kernels may compute (not store) columns up to the rounded width.
struct JndCpuKernels {
  const char* name;  // "scalar", "avx2", "avx512", "avx512vnni"
  // bytes: the input row, then its last pixel repeated up to the rounded
  // width.  Writes E for x in 0..width-1.
  void (*input_row)(const uint8_t* bytes, int width, int32_t* e);
  // Rows ky = 0, 1, 2 (above, centre, below) of E -> A01, A23.
  void (*conv1_row)(const int32_t* const e[3], const JndFixedNet& net, int width, int32_t* a01,
                    int32_t* a23);
  // Rows ky = 0, 1, 2 of the conv1 activations -> conv2 activations.
  void (*conv2_row)(const int32_t* const a01[3], const int32_t* const a23[3],
                    const JndFixedNet& net, int width, int32_t* o01, int32_t* o23);
  // Rows ky = 0, 1, 2 of the conv2 activations -> exactly `width` bytes.
  void (*conv3_row)(const int32_t* const a01[3], const int32_t* const a23[3],
                    const JndFixedNet& net, int width, uint8_t* out);
};

// The paths built into this binary (null where the compiler could not
// build one).  Which of them the processor can run: JndCpuPaths() in
// jnd_filter_cpu.h.
extern const JndCpuKernels kJndCpuScalar;
const JndCpuKernels* JndCpuAvx2Kernels();
const JndCpuKernels* JndCpuAvx512Kernels();
const JndCpuKernels* JndCpuAvx512VnniKernels();

}  // namespace jnd
