#include "opencl/cl_prelude.h"

namespace opencl {

namespace {

// prelude.cl as a raw string (generated at build time, with "\n" line ends).
constexpr char kPreludeLf[] =
#include "prelude_cl.inc"
    ;

constexpr size_t CrlfLength(const char* s) {
  size_t n = 0;
  for (; *s != '\0'; ++s) n += (*s == '\n') ? 2 : 1;
  return n;
}

template <size_t N>
struct Text {
  char data[N + 1];
};

// The kernel compiler sees the prelude with "\r\n" line ends; the
// conversion runs at compile time, so the result is a plain constant.
template <size_t N>
constexpr Text<N> ToCrlf(const char* s) {
  Text<N> t{};
  size_t o = 0;
  for (; *s != '\0'; ++s) {
    if (*s == '\n') t.data[o++] = '\r';
    t.data[o++] = *s;
  }
  t.data[o] = '\0';
  return t;
}

constexpr size_t kPreludeLength = CrlfLength(kPreludeLf);
constexpr Text<kPreludeLength> kPrelude = ToCrlf<kPreludeLength>(kPreludeLf);

}  // namespace

const char* ClPreludeText() { return kPrelude.data; }
size_t ClPreludeLength() { return kPreludeLength; }

}  // namespace opencl
