// Driving single engine kernels on the device: tensors drawn as exact
// halves, upload in the device layouts, launches that check the device ran
// them, read-back that checks every output value was written, and plain
// double-precision references written from the layer descriptions.
//
// Tolerance: inputs, weights and biases are exact halves, so the device's
// only losses are the float accumulation and the one conversion of each
// result to half.  A value passes when |got - ref| <= 2^-10 |ref| +
// 2^-16 S + 2^-20, with S the sum of the magnitudes of the terms that made
// it (pre-activation; both activations have slope at most 1).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/cl/device_layout.h"
#include "opencl/cl_kernel.h"
#include "opencl/cl_memory.h"
#include "opencl/half.h"
#include "tests/engine/cl_engine_env.h"

namespace kerneltest {

constexpr uint16_t kHalfNan = 0x7E00;  // fill of outputs before a launch

// An NHWC tensor (n = 1 unless said otherwise) with, per value, the sum of
// magnitudes of the terms that produced it (references only).
struct Nhwc {
  int n = 1, h = 0, w = 0, c = 0;
  std::vector<float> v;
  std::vector<double> mag;
  Nhwc() = default;
  Nhwc(int n_, int h_, int w_, int c_)
      : n(n_), h(h_), w(w_), c(c_), v(static_cast<size_t>(n_) * h_ * w_ * c_, 0.f),
        mag(v.size(), 0.0) {}
  size_t Index(int ni, int y, int x, int ch) const {
    return ((static_cast<size_t>(ni) * h + y) * w + x) * c + ch;
  }
  float At(int y, int x, int ch) const { return v[Index(0, y, x, ch)]; }
};

class Rng {
 public:
  explicit Rng(uint32_t seed) : gen_(seed) {}
  // A value in [lo, hi] that a half holds exactly.
  float Half(float lo, float hi) {
    const float f = std::uniform_real_distribution<float>(lo, hi)(gen_);
    return opencl::HalfToFloat(opencl::FloatToHalf(f));
  }
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen_); }
  Nhwc Tensor(int n, int h, int w, int c, float lo, float hi) {
    Nhwc t(n, h, w, c);
    for (float& x : t.v) x = Half(lo, hi);
    return t;
  }
  std::vector<float> Values(int count, float lo, float hi) {
    std::vector<float> out(static_cast<size_t>(count));
    for (float& x : out) x = Half(lo, hi);
    return out;
  }

 private:
  std::mt19937 gen_;
};

inline double Activate(double v, int flag) {
  if (flag == 1) return v > 0 ? v : 0;
  if (flag == 5) return 1.0 / (1.0 + std::exp(-v));
  return v;
}

inline bool WithinTolerance(double got, double ref, double mag) {
  const double tol = std::ldexp(std::fabs(ref), -10) + std::ldexp(mag, -16) + std::ldexp(1.0, -20);
  return std::fabs(got - ref) <= tol;
}

// Compares every value; reports the first few that miss.
inline ::testing::AssertionResult Matches(const Nhwc& got, const Nhwc& ref) {
  if (got.v.size() != ref.v.size()) return ::testing::AssertionFailure() << "size differs";
  int bad = 0;
  ::testing::AssertionResult result = ::testing::AssertionSuccess();
  std::string detail;
  for (int ni = 0; ni < ref.n; ++ni)
    for (int y = 0; y < ref.h; ++y)
      for (int x = 0; x < ref.w; ++x)
        for (int ch = 0; ch < ref.c; ++ch) {
          const size_t i = ref.Index(ni, y, x, ch);
          const double m = ref.mag.empty() ? 0.0 : ref.mag[i];
          if (!WithinTolerance(got.v[i], ref.v[i], m)) {
            if (++bad <= 4) {
              detail += " (y " + std::to_string(y) + " x " + std::to_string(x) + " c " +
                        std::to_string(ch) + ": " + std::to_string(got.v[i]) + " vs " +
                        std::to_string(ref.v[i]) + ")";
            }
          }
        }
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " of " << ref.v.size() << " values off:" << detail;
}

// Device memory in the engine's forms.
class DeviceMem {
 public:
  explicit DeviceMem(opencl::clEngine* engine) : engine_(engine) {}

  // An RGBA half image holding the tensor in a device layout.
  std::unique_ptr<opencl::ClMemory> Image(int32_t layout, const Nhwc& t) {
    const engine::cl::TexelExtent e = engine::cl::ImageExtent(layout, t.n, t.h, t.w, t.c);
    const std::vector<uint16_t> texels =
        engine::cl::PackTexels(layout, t.v.data(), t.n, t.h, t.w, t.c);
    return ImageFrom(e.width, e.height, texels);
  }
  std::unique_ptr<opencl::ClMemory> ImageFrom(int width, int height,
                                               const std::vector<uint16_t>& texels) {
    auto mem = std::make_unique<opencl::ClMemory>(engine_);
    if (!mem->CreateImage(width, height, CL_HALF_FLOAT, CL_RGBA, CL_MEM_READ_WRITE) ||
        !mem->WriteImage(texels.data(), CL_HALF_FLOAT, 0, false, true)) {
      ADD_FAILURE() << "image " << width << "x" << height << " not made";
    }
    return mem;
  }
  // A layout-0 output image for n x h x w x c, filled with NaN.
  std::unique_ptr<opencl::ClMemory> OutputImage(int n, int h, int w, int c) {
    const engine::cl::TexelExtent e = engine::cl::ImageExtent(0, n, h, w, c);
    return ImageFrom(e.width, e.height,
                     std::vector<uint16_t>(static_cast<size_t>(e.width) * e.height * 4, kHalfNan));
  }
  // A half buffer holding the given halves.
  std::unique_ptr<opencl::ClMemory> Halves(const std::vector<uint16_t>& halves) {
    auto mem = std::make_unique<opencl::ClMemory>(engine_);
    if (!mem->CreateBuffer(halves.size() * 2, CL_MEM_READ_WRITE) ||
        !mem->Write(halves.data(), halves.size() * 2, false, true)) {
      ADD_FAILURE() << "buffer of " << halves.size() << " halves not made";
    }
    return mem;
  }
  std::unique_ptr<opencl::ClMemory> Floats(const std::vector<float>& values) {
    std::vector<uint16_t> halves(values.size());
    opencl::FloatToHalf(values.data(), halves.data(), values.size());
    return Halves(halves);
  }
  std::unique_ptr<opencl::ClMemory> Bytes(const std::vector<uint8_t>& bytes) {
    auto mem = std::make_unique<opencl::ClMemory>(engine_);
    if (!mem->CreateBuffer(bytes.size(), CL_MEM_READ_WRITE) ||
        !mem->Write(bytes.data(), bytes.size(), false, true)) {
      ADD_FAILURE() << "byte buffer not made";
    }
    return mem;
  }
  // An NHWC half output buffer with kGuard NaN halves past its end.
  static constexpr size_t kGuard = 16;
  std::unique_ptr<opencl::ClMemory> OutputBuffer(int n, int h, int w, int c) {
    return Halves(std::vector<uint16_t>(static_cast<size_t>(n) * h * w * c + kGuard, kHalfNan));
  }

  // Reads a layout-0 image back; every texel of the tensor must have been
  // written and its channel padding must be zero.
  Nhwc ReadImage(opencl::ClMemory& mem, int n, int h, int w, int c) {
    Nhwc t(n, h, w, c);
    std::vector<uint16_t> texels(static_cast<size_t>(mem.width) * mem.height * 4);
    if (!mem.ReadImage(texels.data(), false, true)) {
      ADD_FAILURE() << "image not read";
      return t;
    }
    engine::cl::UnpackLayout0(texels.data(), n, h, w, c, t.v.data());
    const int blocks = (c + 3) / 4;
    for (int ch = c; ch < blocks * 4; ++ch) {
      for (int row = 0; row < n * h; ++row) {
        for (int x = 0; x < w; ++x) {
          const uint16_t pad = texels[((static_cast<size_t>(row) * mem.width) + x * blocks + ch / 4) * 4 + ch % 4];
          if (pad != 0) {
            ADD_FAILURE() << "padding channel " << ch << " at (" << x << ", " << row << ") holds 0x"
                          << std::hex << pad;
            return t;
          }
        }
      }
    }
    return t;
  }
  // Reads an NHWC half buffer back; the guard past its end must be intact.
  Nhwc ReadBuffer(opencl::ClMemory& mem, int n, int h, int w, int c) {
    Nhwc t(n, h, w, c);
    std::vector<uint16_t> halves(t.v.size() + kGuard);
    if (!mem.Read(halves.data(), halves.size() * 2, false, true)) {
      ADD_FAILURE() << "buffer not read";
      return t;
    }
    opencl::HalfToFloat(halves.data(), t.v.data(), t.v.size());
    for (size_t i = t.v.size(); i < halves.size(); ++i) {
      if (halves[i] != kHalfNan) {
        ADD_FAILURE() << "written past the end, at " << i;
        break;
      }
    }
    return t;
  }

 private:
  opencl::clEngine* engine_;
};

// One kernel launch: arguments in order, then Run with the global size.
class Launch {
 public:
  Launch(opencl::clEngine* engine, const std::string& name) : name_(name) {
    testutil::CaptureStdout quiet;
    ok_ = kernel_.Init(engine, name, name, true);
  }
  Launch& Mem(const opencl::ClMemory& m) {
    kernel_.SetArgMem(index_++, m.image != nullptr ? m.image : m.buffer);
    return *this;
  }
  Launch& Short(int v) {
    kernel_.SetArgShort(index_++, static_cast<int16_t>(v));
    return *this;
  }
  Launch& Int(int32_t v) {
    kernel_.SetArgInt(index_++, v);
    return *this;
  }
  Launch& Float(float v) {
    kernel_.SetArgFloat(index_++, v);
    return *this;
  }
  // A fixed work-group size, and a launch of exactly the given size.
  Launch& Local(size_t x, size_t y, size_t z) {
    kernel_.fixedLocal[0] = x;
    kernel_.fixedLocal[1] = y;
    kernel_.fixedLocal[2] = z;
    exact_ = true;
    return *this;
  }
  // Runs to completion and checks, through the persona's count, that the
  // device received exactly one launch.  The launch has one spare work
  // item in the first two dimensions (and in the third with spare_rows),
  // as a rounded-up global size would give, which the kernel must ignore.
  // Work groups of one item keep the device compiler to one build per
  // kernel.  After Local the launch has exactly the given size and groups.
  ::testing::AssertionResult Run(size_t gx, size_t gy, size_t gz, bool spare_rows = false) {
    if (!ok_) return ::testing::AssertionFailure() << "no kernel " << name_;
    testutil::CaptureStdout quiet;
    if (!kernel_.SetArgs()) return ::testing::AssertionFailure() << name_ << ": arguments refused";
    if (exact_) {
      kernel_.SetGlobalSize(gx, gy, gz);
    } else {
      kernel_.SetGlobalSize(gx + 1, gy + 1, gz + (spare_rows ? 1 : 0));
    }
    const size_t one[3] = {1, 1, 1};
    kernel_.SetLocalSize(one);
    const long before = testutil::EnqueueCount();
#ifdef OXRIN_PERSONA_LIBRARY
    if (before < 0 && std::getenv("OXRIN_TEST_CL_LIBRARY") == nullptr) {
      return ::testing::AssertionFailure() << "launches are not counted by the persona library";
    }
#endif
    if (!kernel_.Run(false, false, true)) return ::testing::AssertionFailure() << name_ << " failed";
    const long after = testutil::EnqueueCount();
    if (before >= 0 && after != before + 1) {
      return ::testing::AssertionFailure() << name_ << ": " << (after - before) << " launches seen";
    }
    return ::testing::AssertionSuccess();
  }

 private:
  std::string name_;
  opencl::ClKernel kernel_;
  int index_ = 0;
  bool ok_ = false;
  bool exact_ = false;
};

// Window of a convolution or pooling layer.
struct Window {
  int kw = 1, kh = 1;
  int pad_l = 0, pad_r = 0, pad_t = 0, pad_b = 0;
  int sw = 1, sh = 1, dw = 1, dh = 1;
  int OutW(int in_w) const { return (in_w + pad_l + pad_r - dw * (kw - 1) - 1) / sw + 1; }
  int OutH(int in_h) const { return (in_h + pad_t + pad_b - dh * (kh - 1) - 1) / sh + 1; }
};

// out[y][x][oc] = act(bias[oc] + sum over taps inside the input of
// weight[oc][i][j][ic] * in[y sh + i dh - pad_t][x sw + j dw - pad_l][ic]).
inline Nhwc RefConv(const Nhwc& in, const Nhwc& weight, const std::vector<float>& bias,
                    const Window& g, int act) {
  const int oc_count = weight.n;
  Nhwc out(1, g.OutH(in.h), g.OutW(in.w), oc_count);
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x)
      for (int oc = 0; oc < oc_count; ++oc) {
        double sum = bias[oc], mag = std::fabs(bias[oc]);
        for (int i = 0; i < g.kh; ++i) {
          const int iy = y * g.sh + i * g.dh - g.pad_t;
          if (iy < 0 || iy >= in.h) continue;
          for (int j = 0; j < g.kw; ++j) {
            const int ix = x * g.sw + j * g.dw - g.pad_l;
            if (ix < 0 || ix >= in.w) continue;
            for (int ic = 0; ic < in.c; ++ic) {
              const double t = static_cast<double>(weight.v[weight.Index(oc, i, j, ic)]) * in.At(iy, ix, ic);
              sum += t;
              mag += std::fabs(t);
            }
          }
        }
        out.v[out.Index(0, y, x, oc)] = static_cast<float>(Activate(sum, act));
        out.mag[out.Index(0, y, x, oc)] = mag;
      }
  return out;
}

inline size_t Groups(int c) { return static_cast<size_t>((c + 3) / 4); }
inline size_t Quads(int w) { return static_cast<size_t>((w + 3) / 4); }

}  // namespace kerneltest
