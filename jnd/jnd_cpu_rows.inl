// The row kernels of the vector paths, written once over a vector type.
// Each path's file defines a struct of vector operations and includes this
// text inside its own namespace, compiled for its instruction set:
//
//   using Vec;  static constexpr int kLanes;
//   Vec Zero();  Vec Set1(int32_t);  Vec Load(const int32_t*) (aligned);
//   void Store(int32_t*, Vec) (aligned);  Vec Add(Vec, Vec);
//   Vec Madd(Vec acc, Vec pixels, Vec weights): acc + the 16-bit pair
//       dot products, lane by lane;
//   Vec ToByte(Vec sum, int shift): sum >> shift (arithmetic), clamped to
//       0..255;
//   Vec Pair(Vec lo, Vec hi): lo | hi << 16 for lo, hi in 0..255;
//   void Neighbours(const int32_t* row, int x, Vec& left, Vec& centre,
//       Vec& right): the words at x - 1, x, x + 1 onwards;
//   Vec InputWords(const uint8_t* bytes): input words of the bytes there;
//   void StoreBytes(uint8_t* out, int x, int width, Vec v): the low byte of
//       each lane at out[x..], stopping at width.
//
// Every column is computed from integers only, so the bytes equal the
// plain path's.

// Hides a pointer's value from the optimiser so that weight broadcasts
// stay inside the loop as memory operands instead of being hoisted into
// registers that then spill.
template <typename T>
inline const T* Opaque(const T* p) {
#if defined(__GNUC__)
  __asm__("" : "+r"(p));
#endif
  return p;
}

// Integer sums may be regrouped freely, and GCC regroups a chain of
// multiply-add-then-add steps into all products first, kept on the stack,
// summed at the end.  Passing each partial sum through an empty statement
// keeps the chains as written: a few accumulators in registers.
template <typename Vec>
inline Vec KeepChain(Vec v) {
#if defined(__GNUC__)
  __asm__("" : "+v"(v));
#endif
  return v;
}

template <class V>
struct Rows {
  using Vec = typename V::Vec;

  static void InputRow(const uint8_t* bytes, int width, int32_t* e) {
    for (int x = 0; x < width; x += V::kLanes) V::Store(e + x, V::InputWords(bytes + x));
  }

  static void Conv1Row(const int32_t* const e[3], const JndFixedNet& net, int width,
                       int32_t* a01, int32_t* a23) {
    for (int x = 0; x < width; x += V::kLanes) {
      const int32_t(*w)[9] = Opaque(net.c1);
      // Two sums per output channel (kernel rows 0 and 2, row 1) keep
      // eight independent chains in flight.
      Vec acc[4][2];
      for (int oc = 0; oc < 4; ++oc) {
        acc[oc][0] = V::Set1(net.b1[oc]);
        acc[oc][1] = V::Zero();
      }
      for (int ky = 0; ky < 3; ++ky) {
        Vec v[3];
        V::Neighbours(e[ky], x, v[0], v[1], v[2]);
        for (int kx = 0; kx < 3; ++kx)
          for (int oc = 0; oc < 4; ++oc)
            acc[oc][ky & 1] = V::Madd(acc[oc][ky & 1], v[kx], V::Set1(w[oc][ky * 3 + kx]));
      }
      Vec q[4];
      for (int oc = 0; oc < 4; ++oc)
        q[oc] = V::ToByte(V::Add(acc[oc][0], acc[oc][1]), net.shift1[oc]);
      V::Store(a01 + x, V::Pair(q[0], q[1]));
      V::Store(a23 + x, V::Pair(q[2], q[3]));
    }
  }

  static void Conv2Row(const int32_t* const a01[3], const int32_t* const a23[3],
                       const JndFixedNet& net, int width, int32_t* o01, int32_t* o23) {
    for (int x = 0; x < width; x += V::kLanes) {
      const int32_t(*w)[9][2] = Opaque(net.c2);
      // Two sums per output channel (one per pair plane) keep eight
      // independent chains in flight.
      Vec acc[4][2];
      for (int oc = 0; oc < 4; ++oc) {
        acc[oc][0] = V::Set1(net.b2[oc]);
        acc[oc][1] = V::Zero();
      }
      for (int ky = 0; ky < 3; ++ky) {
        for (int plane = 0; plane < 2; ++plane) {
          Vec v[3];
          V::Neighbours((plane == 0 ? a01 : a23)[ky], x, v[0], v[1], v[2]);
          for (int kx = 0; kx < 3; ++kx)
            for (int oc = 0; oc < 4; ++oc)
              acc[oc][plane] =
                  V::Madd(acc[oc][plane], v[kx], V::Set1(w[oc][ky * 3 + kx][plane]));
        }
      }
      Vec q[4];
      for (int oc = 0; oc < 4; ++oc)
        q[oc] = V::ToByte(V::Add(acc[oc][0], acc[oc][1]), net.shift2[oc]);
      V::Store(o01 + x, V::Pair(q[0], q[1]));
      V::Store(o23 + x, V::Pair(q[2], q[3]));
    }
  }

  static void Conv3Row(const int32_t* const a01[3], const int32_t* const a23[3],
                       const JndFixedNet& net, int width, uint8_t* out) {
    for (int x = 0; x < width; x += V::kLanes) {
      const int32_t(*w)[2] = Opaque(net.c3);
      // One sum per kernel row and plane: six short chains.
      Vec acc[3][2];
      for (int ky = 0; ky < 3; ++ky) {
        for (int plane = 0; plane < 2; ++plane) {
          Vec v[3];
          V::Neighbours((plane == 0 ? a01 : a23)[ky], x, v[0], v[1], v[2]);
          Vec sum = ky == 0 && plane == 0 ? V::Set1(net.b3) : V::Zero();
          for (int kx = 0; kx < 3; ++kx) sum = V::Madd(sum, v[kx], V::Set1(w[ky * 3 + kx][plane]));
          acc[ky][plane] = sum;
        }
      }
      const Vec total = V::Add(V::Add(V::Add(acc[0][0], acc[0][1]), V::Add(acc[1][0], acc[1][1])),
                               V::Add(acc[2][0], acc[2][1]));
      V::StoreBytes(out, x, width, V::ToByte(total, net.shift3));
    }
  }

  static constexpr JndCpuKernels Table(const char* name) {
    return {name, InputRow, Conv1Row, Conv2Row, Conv3Row};
  }
};
