// The portable path: the fixed-point network one pixel at a time.  The
// vector paths must give exactly these bytes.
#include <algorithm>

#include "jnd/jnd_cpu_kernels.h"

namespace jnd {

namespace {

int Low(int32_t word) { return static_cast<int16_t>(static_cast<uint32_t>(word) & 0xFFFFu); }
int High(int32_t word) { return static_cast<int16_t>(static_cast<uint32_t>(word) >> 16); }

// One 16-bit dot-product step: both halves of a pixel word times both
// halves of a weight word.
int32_t Dot(int32_t pixel, int32_t weight) {
  return Low(pixel) * Low(weight) + High(pixel) * High(weight);
}

int ToByte(int32_t sum, int shift) { return std::min(255, std::max(0, sum >> shift)); }

void InputRow(const uint8_t* bytes, int width, int32_t* e) {
  for (int x = 0; x < width; ++x) e[x] = JndPair(bytes[x] * kJndCpuInputScale, bytes[x]);
}

void Conv1Row(const int32_t* const e[3], const JndFixedNet& net, int width, int32_t* a01,
              int32_t* a23) {
  for (int x = 0; x < width; ++x) {
    int q[4];
    for (int oc = 0; oc < 4; ++oc) {
      int32_t sum = net.b1[oc];
      for (int ky = 0; ky < 3; ++ky)
        for (int kx = 0; kx < 3; ++kx) sum += Dot(e[ky][x + kx - 1], net.c1[oc][ky * 3 + kx]);
      q[oc] = ToByte(sum, net.shift1[oc]);
    }
    a01[x] = JndPair(q[0], q[1]);
    a23[x] = JndPair(q[2], q[3]);
  }
}

// conv2 and conv3 share the 3x3 walk over two pair planes.
int32_t Taps(const int32_t* const a01[3], const int32_t* const a23[3], const int32_t (*w)[2],
             int x) {
  int32_t sum = 0;
  for (int ky = 0; ky < 3; ++ky)
    for (int kx = 0; kx < 3; ++kx)
      sum += Dot(a01[ky][x + kx - 1], w[ky * 3 + kx][0]) +
             Dot(a23[ky][x + kx - 1], w[ky * 3 + kx][1]);
  return sum;
}

void Conv2Row(const int32_t* const a01[3], const int32_t* const a23[3], const JndFixedNet& net,
              int width, int32_t* o01, int32_t* o23) {
  for (int x = 0; x < width; ++x) {
    int q[4];
    for (int oc = 0; oc < 4; ++oc)
      q[oc] = ToByte(net.b2[oc] + Taps(a01, a23, net.c2[oc], x), net.shift2[oc]);
    o01[x] = JndPair(q[0], q[1]);
    o23[x] = JndPair(q[2], q[3]);
  }
}

void Conv3Row(const int32_t* const a01[3], const int32_t* const a23[3], const JndFixedNet& net,
              int width, uint8_t* out) {
  for (int x = 0; x < width; ++x)
    out[x] = static_cast<uint8_t>(ToByte(net.b3 + Taps(a01, a23, net.c3, x), net.shift3));
}

}  // namespace

const JndCpuKernels kJndCpuScalar = {"scalar", InputRow, Conv1Row, Conv2Row, Conv3Row};

}  // namespace jnd
