// The device forms of tensors, the kernel sources and the assembly of the
// engine program: packing rules at literal texel positions, the embedded
// kernel files and their program order, the variant structure of the
// program text, and builds on the device holding every kernel under its
// variant names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "engine/cl/device_layout.h"
#include "engine/cl/kernel_sources.h"
#include "opencl/cl_prelude.h"
#include "opencl/half.h"
#include "tests/engine/cl_engine_env.h"
#include "tools/netrun/engine_program.h"

namespace {

namespace ecl = engine::cl;

// ---- Device layouts ----------------------------------------------------------

struct ExtentRow {
  int32_t layout;
  int n, h, w, c;
  int width, height;
};

TEST(DeviceLayout, ImageExtentsFollowTheLayouts) {
  const ExtentRow rows[] = {
      {0, 1, 7, 10, 5, 20, 7},    {0, 2, 3, 4, 8, 8, 6},     {0, 1, 1, 1, 1, 1, 1},
      {18, 1, 7, 10, 5, 20, 7},   {6, 5, 3, 2, 6, 12, 6},    {6, 8, 1, 1, 32, 32, 2},
      {13, 5, 3, 2, 6, 12, 6},    {13, 17, 3, 3, 4, 12, 15}, {7, 1, 1, 1, 4, 0, 0},
      {0, 1, 0, 4, 4, 0, 0},
  };
  for (const ExtentRow& r : rows) {
    const ecl::TexelExtent e = ecl::ImageExtent(r.layout, r.n, r.h, r.w, r.c);
    EXPECT_EQ(e.width, r.width) << "layout " << r.layout << " " << r.n << "x" << r.h << "x" << r.w << "x" << r.c;
    EXPECT_EQ(e.height, r.height) << "layout " << r.layout << " " << r.n << "x" << r.h << "x" << r.w << "x" << r.c;
  }
}

// A tensor whose value at NHWC index i is i + 1 (exact in half up to 2048).
std::vector<float> Numbered(int n, int h, int w, int c) {
  std::vector<float> v(static_cast<size_t>(n) * h * w * c);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i + 1);
  return v;
}

struct TexelRow {
  int32_t layout;
  int n, h, w, c;
  int ni, y, x, ch;       // the value
  int tx, ty, k;          // where it must sit
};

TEST(DeviceLayout, ValuesSitAtTheirTexels) {
  const TexelRow rows[] = {
      // Activations: x * ceil(c/4) + cb, row ni * h + y.
      {0, 1, 2, 3, 5, 0, 1, 2, 4, 5, 1, 0},
      {0, 2, 2, 3, 5, 1, 0, 1, 2, 2, 2, 2},
      // Four-pixel groups: w 5, two blocks; pixel 1 block 1, pixel 4 (a
      // group of one) block 1.
      {18, 1, 1, 5, 5, 0, 0, 1, 4, 5, 0, 0},
      {18, 1, 1, 5, 5, 0, 0, 4, 4, 9, 0, 0},
      {18, 1, 1, 5, 5, 0, 0, 3, 1, 3, 0, 1},
      // Weights n 5 (out), 2 x 3 taps, c 2 (in): out channel 4, tap (1, 0), in 1.
      {6, 5, 2, 3, 2, 4, 1, 0, 1, 1, 3, 0},
      {13, 5, 2, 3, 2, 4, 1, 0, 1, 3, 3, 0},
      {6, 5, 2, 3, 2, 2, 0, 2, 0, 4, 0, 2},
      {13, 5, 2, 3, 2, 2, 0, 2, 0, 2, 0, 2},
  };
  for (const TexelRow& r : rows) {
    SCOPED_TRACE("layout " + std::to_string(r.layout));
    const std::vector<float> v = Numbered(r.n, r.h, r.w, r.c);
    const std::vector<uint16_t> t = ecl::PackTexels(r.layout, v.data(), r.n, r.h, r.w, r.c);
    const ecl::TexelExtent e = ecl::ImageExtent(r.layout, r.n, r.h, r.w, r.c);
    ASSERT_EQ(t.size(), static_cast<size_t>(e.width) * e.height * 4);
    const size_t value = ((static_cast<size_t>(r.ni) * r.h + r.y) * r.w + r.x) * r.c + r.ch + 1;
    EXPECT_EQ(opencl::HalfToFloat(t[(static_cast<size_t>(r.ty) * e.width + r.tx) * 4 + r.k]),
              static_cast<float>(value));
    // Every value lands once; the rest is zero padding.
    std::vector<float> seen;
    for (uint16_t h : t) {
      if (h != 0) seen.push_back(opencl::HalfToFloat(h));
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, v);
  }
}

TEST(DeviceLayout, UnpackInvertsLayoutZeroAndBiasIsPadded) {
  for (int c : {1, 3, 4, 6, 17}) {
    const std::vector<float> v = Numbered(2, 3, 5, c);
    const std::vector<uint16_t> t = ecl::PackTexels(0, v.data(), 2, 3, 5, c);
    std::vector<float> back(v.size(), -1.f);
    ecl::UnpackLayout0(t.data(), 2, 3, 5, c, back.data());
    EXPECT_EQ(back, v) << "c " << c;
  }
  const float bias[5] = {1.f, -2.f, 0.5f, 3.f, -0.25f};
  const std::vector<uint16_t> halves = ecl::PackBiasHalves(bias, 5);
  ASSERT_EQ(halves.size(), 8u);
  EXPECT_EQ(opencl::HalfToFloat(halves[4]), -0.25f);
  EXPECT_EQ(halves[5] | halves[6] | halves[7], 0);
  EXPECT_EQ(ecl::PackBiasHalves(bias, 4).size(), 4u);
}

// ---- Kernel sources ---------------------------------------------------------------

// Every file in engine/cl/kernels is embedded, under its name and with its
// text, and is in the program order once (the kernel-name prelude aside).
TEST(KernelSources, ProgramOrderNamesEveryKernelFile) {
  const std::filesystem::path dir =
      std::filesystem::path(OXRIN_EXAMPLES_DIR) / ".." / "engine" / "cl" / "kernels";
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".cl") continue;
    const std::string name = entry.path().stem().string();
    files.insert(name);
    std::ifstream in(entry.path(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    EXPECT_TRUE(ecl::EngineSourceText(name) == text) << name << " embedded other than its file";
  }
  const std::vector<std::string>& order = ecl::EngineSourceOrder();
  std::set<std::string> ordered(order.begin(), order.end());
  EXPECT_EQ(ordered.size(), order.size()) << "a name twice in the program order";
  ordered.insert("kernel_name_prelude");
  EXPECT_EQ(ordered, files);
  EXPECT_TRUE(ecl::EngineSourceText("no_such_kernel").empty());
  // The kernel-name prelude may precede the sources again: it begins by
  // undefining what it defines.
  const std::string& knp = ecl::KernelNamePrelude();
  for (const char* name : {"WEIGHT_MEM_TYPE", "OUTPUT_MEM_TYPE", "KERNEL_NAME", "OUTPUT_X1_FUNC",
                           "OUTPUT_X4_FUNC"}) {
    const size_t undef = knp.find(std::string("#undef ") + name);
    const size_t def = knp.find(std::string("#define ") + name);
    ASSERT_NE(undef, std::string::npos) << name;
    EXPECT_LT(undef, def) << name;
  }
}

// ---- Program text -------------------------------------------------------------

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(EngineProgram, TextHoldsOptionsPreludeAndOneBlockPerVariant) {
  opencl::clEngine plain;
  const std::vector<netrun::BufferVariant> variants = {{false, false}, {false, true}, {true, true}};
  const std::string text = netrun::AssembleEngineProgram(plain, variants);
  const std::string prelude(opencl::ClPreludeText(), opencl::ClPreludeLength());
  EXPECT_EQ(text.find(prelude), 0u);  // no option defines on a plain device
  EXPECT_EQ(Count(text, ecl::KernelNamePrelude()), 3u);
  EXPECT_EQ(Count(text, "#define USE_BUFFER_OUT\n"), 2u);
  EXPECT_EQ(Count(text, "#define USE_BUFFER_WEIGHT\n"), 1u);
  EXPECT_EQ(Count(text, "#undef USE_BUFFER_WEIGHT\n#undef USE_BUFFER_OUT\n"), 3u);
  EXPECT_EQ(text.find("#define KHR_SUB_GROUP"), std::string::npos);

  opencl::clEngine rich;
  rich.fp16 = true;
  rich.khrSubgroups = true;
  rich.vendor = opencl::kVendorQualcomm;
  const std::string options = netrun::AssembleEngineProgram(rich, {{false, true}});
  const size_t at_prelude = options.find(prelude);
  for (const char* name : {"#define HALF_FP", "#define QUALCOMM", "#define KHR_SUB_GROUP"}) {
    EXPECT_LT(options.find(name), at_prelude) << name;
  }
}

TEST(EngineProgram, BuildOptionsDropOnlyTheLanguageVersion) {
  opencl::clEngine e;
  e.buildOptions = opencl::MakeBuildOptions(true, true, opencl::kVendorQualcomm);
  EXPECT_EQ(netrun::EngineBuildOptions(e), " -DHALF_FP -DQUALCOMM");
  e.buildOptions = opencl::MakeBuildOptions(false, false, opencl::kVendorNvidia);
  EXPECT_EQ(netrun::EngineBuildOptions(e), "");
}

// ---- Builds on the device ---------------------------------------------------

// Builds text on the shared engine's device in a program of its own and
// answers the kernel names in it (empty, with the log as a failure, when
// the build fails).
std::set<std::string> KernelNames(opencl::clEngine* e, const std::string& text) {
  std::set<std::string> names;
  const char* src = text.c_str();
  cl_int status = CL_SUCCESS;
  cl_program program = clCreateProgramWithSource(e->context, 1, &src, nullptr, &status);
  if (program == nullptr) {
    ADD_FAILURE() << "program not created";
    return names;
  }
  const std::string options = netrun::EngineBuildOptions(*e);
  if (clBuildProgram(program, 1, &e->device, options.c_str(), nullptr, nullptr) != CL_SUCCESS) {
    std::vector<char> log(1 << 16, '\0');
    clGetProgramBuildInfo(program, e->device, CL_PROGRAM_BUILD_LOG, log.size() - 1, log.data(), nullptr);
    ADD_FAILURE() << "build failed:\n" << log.data();
    clReleaseProgram(program);
    return names;
  }
  cl_uint count = 0;
  clCreateKernelsInProgram(program, 0, nullptr, &count);
  std::vector<cl_kernel> kernels(count);
  if (count > 0 && clCreateKernelsInProgram(program, count, kernels.data(), nullptr) == CL_SUCCESS) {
    for (cl_kernel k : kernels) {
      names.insert(opencl::QueryKernelName(k));
      clReleaseKernel(k);
    }
  }
  clReleaseProgram(program);
  return names;
}

TEST(EngineProgram, OneSourceTwiceGivesTwoKernelNames) {
  opencl::clEngine* e = testutil::EngineWithProgram();
  ASSERT_NE(e, nullptr);
  std::string text(opencl::ClPreludeText(), opencl::ClPreludeLength());
  for (bool buffer_out : {false, true}) {
    text += buffer_out ? "#define USE_BUFFER_OUT\n" : "#undef USE_BUFFER_OUT\n";
    text += ecl::KernelNamePrelude();
    text += ecl::EngineSourceText("conv_blocks");
    text += ecl::EngineSourceText("conv1x1");
  }
  const std::set<std::string> expected = {"conv1x1_s1x1",        "conv1x1_s1x1_w4",
                                          "conv1x1_s1x1_x1",     "conv1x1_s1x1_buf_out",
                                          "conv1x1_s1x1_w4_buf_out", "conv1x1_s1x1_x1_buf_out"};
  EXPECT_EQ(KernelNames(e, text), expected);
}

TEST(EngineProgram, AllFourMemoryVariantsBuildTogether) {
  opencl::clEngine* e = testutil::EngineWithProgram();
  ASSERT_NE(e, nullptr);
  const std::string text = netrun::AssembleEngineProgram(
      *e, {{false, false}, {false, true}, {true, false}, {true, true}});
  const std::set<std::string> names = KernelNames(e, text);
  for (const char* kernel : {"conv", "conv_c3", "conv1x1_s1x1", "conv3x3_s1x1_x1"}) {
    for (const char* suffix : {"", "_buf_out", "_buf_weight", "_buf_weight_buf_out"}) {
      EXPECT_EQ(names.count(std::string(kernel) + suffix), 1u) << kernel << suffix;
    }
  }
  // Single-channel outputs exist only where the output is a buffer; the
  // variant-free kernels exist once.
  EXPECT_EQ(names.count("conv3x3_s1x1_n1_x1"), 0u);
  EXPECT_EQ(names.count("conv3x3_s1x1_n1_x1_buf_out"), 1u);
  EXPECT_EQ(names.count("conv3x3_s1x1_n1_x1_buf_weight_buf_out"), 1u);
  EXPECT_EQ(names.count("image_to_buf"), 1u);
  EXPECT_EQ(names.count("image_to_buf_buf_out"), 0u);
}

}  // namespace
