// The OpenCL C prelude that every program the library assembles starts
// with: precision switch (HALF_FP), Qualcomm constant-size attribute
// (QUALCOMM), image or buffer output (USE_BUFFER_OUT) and the shared helper
// macros.  The text lives in opencl/prelude.cl and is embedded at build time.
#pragma once

#include <cstddef>

namespace opencl {

// The prelude, lines separated by "\r\n"; a constant that lives as long as
// the library.
const char* ClPreludeText();
// Its length in bytes.
size_t ClPreludeLength();

}  // namespace opencl
