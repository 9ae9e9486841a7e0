// The shared OpenCL C prelude: its text form, every macro under each switch
// (checked with the host C preprocessor, since the device here has no half
// precision), and a float build and run on the system's OpenCL device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "child_case.h"
#include "opencl/cl_dispatch.h"
#include "opencl/cl_prelude.h"

namespace {

TEST(Prelude, LinesEndWithCrLf) {
  const std::string text = opencl::ClPreludeText();
  ASSERT_EQ(text.size(), opencl::ClPreludeLength());
  ASSERT_GT(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
    }
    if (text[i] == '\r') {
      EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
    }
  }
  // The multi-line definitions continue with a backslash before CR LF.
  EXPECT_NE(text.find("#define GLOBAL_WORK_GROUP_SIZE_DIM2 \\\r\n"), std::string::npos);
}

// Expands `probes` after the prelude with the host preprocessor and returns
// probe -> expansion (whitespace collapsed).
std::map<std::string, std::string> Expand(const std::string& prefix, const std::string& flags,
                                          const std::vector<std::string>& probes) {
  char path[] = "/tmp/oxrin_prelude_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  close(fd);
  {
    std::ofstream out(path, std::ios::binary);
    out << prefix << opencl::ClPreludeText();
    // Each probe line starts with its index, which no macro can change.
    for (size_t i = 0; i < probes.size(); ++i) out << "@@" << i << "@@ " << probes[i] << "\r\n";
  }
  const std::string cmd = std::string(OXRIN_HOST_CC) + " -E -P -x c " + flags + " " + path;
  std::map<std::string, std::string> result;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (pipe != nullptr) {
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
      std::string s(line);
      if (s.rfind("@@", 0) != 0) continue;
      const size_t end = s.find("@@", 2);
      std::istringstream words(s.substr(end + 2));
      std::string w, joined;
      while (words >> w) joined += (joined.empty() ? "" : " ") + w;
      const size_t index = std::stoul(s.substr(2, end - 2));
      if (index < probes.size()) result[probes[index]] = joined;
    }
    pclose(pipe);
  }
  std::remove(path);
  return result;
}

struct MacroCase {
  const char* flags;  // host preprocessor switches
  const char* probe;  // macro use
  const char* expansion;
};

void PrintTo(const MacroCase& c, std::ostream* os) { *os << "[" << c.flags << "] " << c.probe; }

class PreludeMacros : public ::testing::TestWithParam<MacroCase> {};

TEST_P(PreludeMacros, ExpandsAsDocumented) {
  const MacroCase& c = GetParam();
  std::string flags = c.flags;
  std::string prefix;
  // USE_BUFFER_OUT arrives as a define line in front of the prelude.
  const std::string bufferOut = "-DUSE_BUFFER_OUT";
  if (const size_t at = flags.find(bufferOut); at != std::string::npos) {
    flags.erase(at, bufferOut.size());
    prefix = "\r\n #define USE_BUFFER_OUT \r\n";
  }
  const auto expanded = Expand(prefix, flags, {c.probe});
  ASSERT_EQ(expanded.count(c.probe), 1u) << "preprocessor failed for " << c.probe;
  EXPECT_EQ(expanded.at(c.probe), c.expansion) << c.flags << " " << c.probe;
}

INSTANTIATE_TEST_SUITE_P(
    HostPreprocessor, PreludeMacros,
    ::testing::Values(
        MacroCase{"", "EMPTY_KERNEL", ";"},
        MacroCase{"", "DATA_TYPE DATA_TYPE2 DATA_TYPE3 DATA_TYPE4 DATA_TYPE8 DATA_TYPE16",
                  "float float2 float3 float4 float8 float16"},
        MacroCase{"-DHALF_FP", "DATA_TYPE DATA_TYPE2 DATA_TYPE3 DATA_TYPE4 DATA_TYPE8 DATA_TYPE16",
                  "half half2 half3 half4 half8 half16"},
        MacroCase{"", "WRITE_IMAGE READ_IMAGE", "write_imagef read_imagef"},
        MacroCase{"-DHALF_FP", "WRITE_IMAGE READ_IMAGE", "write_imageh read_imageh"},
        MacroCase{"", "VLD8 VLD4 VLD2 VLD3 VLD", "vload_half8 vload_half4 vload_half2 vload_half3 vload_half"},
        MacroCase{"-DHALF_FP", "VLD8 VLD4 VLD2 VLD3 VLD", "vload8 vload4 vload2 vload3 vload_half"},
        MacroCase{"", "VST(v, o, p)", "vstore_half(v, o, p)"},
        MacroCase{"-DHALF_FP", "VST(v, o, p)", "((p)[(o)] = (v))"},
        MacroCase{"", "VST2 VST3 VST4", "vstore_half2 vstore_half3 vstore_half4"},
        MacroCase{"-DHALF_FP", "VST2 VST3 VST4", "vstore2 vstore3 vstore4"},
        MacroCase{"", "CONVERT CONVERT3 CONVERT4 CONVERT8",
                  "convert_float convert_float3 convert_float4 convert_float8"},
        MacroCase{"-DHALF_FP", "CONVERT CONVERT3 CONVERT4 CONVERT8",
                  "convert_half convert_half3 convert_half4 convert_half8"},
        MacroCase{"", "w __ATTRIBUTE_MAX_CONSANT_SIZE_(40 * sizeof(DATA_TYPE))", "w"},
        MacroCase{"-DQUALCOMM", "w __ATTRIBUTE_MAX_CONSANT_SIZE_(40 * sizeof(DATA_TYPE))",
                  "w __attribute__((max_constant_size(40 * sizeof(float))))"},
        MacroCase{"", "GLOBAL_WORK_GROUP_SIZE_DIM2",
                  "__private const short global_size_dim0, __private const short global_size_dim1"},
        MacroCase{"", "GLOBAL_WORK_GROUP_SIZE_DIM3",
                  "__private const short global_size_dim0, __private const short global_size_dim1, "
                  "__private const short global_size_dim2"},
        MacroCase{"", "OUT_TYPE", "write_only image2d_t"},
        MacroCase{"-DUSE_BUFFER_OUT", "OUT_TYPE", "__global float *"},
        MacroCase{"-DHALF_FP -DUSE_BUFFER_OUT", "OUT_TYPE", "__global half *"},
        MacroCase{"", "READ_IMAGEX0(img, smp, pos)", "convert_float4((float4)(0.35f, 0.12f, 0.45f, 0.66f))"},
        MacroCase{"-DHALF_FP", "READ_IMAGEX3(img, smp, pos)",
                  "convert_half4((float4)(0.85f, 0.72f, 0.45f, 0.56f))"},
        MacroCase{"-DHALF_FP", "VLD8X1(o, p)",
                  "convert_half8((float8)(1.1f, 0.11f, 0.13f, 0.25f, 2.2f, 0.32f, 0.41f, 0.41f))"},
        MacroCase{"", "VLD4X2(o, p)", "convert_float4((float4)(1.4f, 0.20f, 0.43f, 0.55f))"},
        MacroCase{"", "VLD16", "vload16"},
        MacroCase{"-DHALF_FP", "VLD16X(pos, p)",
                  "((uchar16)(3, 5, 6, 8, 4, 9, 11, 13, 3, 5, 6, 18, 24, 29, 31, 43))"}));

TEST(Prelude, HalfSwitchEnablesTheFp16Pragma) {
  // The pragma survives preprocessing only under HALF_FP.
  for (const bool withHalf : {true, false}) {
    char path[] = "/tmp/oxrin_prelude_pragma_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
      std::ofstream out(path, std::ios::binary);
      out << opencl::ClPreludeText();
    }
    const std::string c = std::string(OXRIN_HOST_CC) + " -E -P -x c " + (withHalf ? "-DHALF_FP " : "") + path;
    FILE* pipe = popen(c.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string all;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) all.append(buf, n);
    pclose(pipe);
    std::remove(path);
    EXPECT_EQ(all.find("#pragma OPENCL EXTENSION cl_khr_fp16 : enable") != std::string::npos, withHalf);
  }
}

// ---------------------------------------------------------------------------
// Build and run on the system's OpenCL device, in a fresh process.

const char* const kProbeKernel = R"CLC(
__kernel void prelude_probe(__global const half* src, __global float* out,
                            __constant DATA_TYPE* w __ATTRIBUTE_MAX_CONSANT_SIZE_(4 * sizeof(DATA_TYPE)),
                            GLOBAL_WORK_GROUP_SIZE_DIM2) {
  EMPTY_KERNEL
  if (get_global_id(0) >= global_size_dim0 || get_global_id(1) >= global_size_dim1) return;
  DATA_TYPE4 a = READ_IMAGEX0(0, 0, 0);
  DATA_TYPE8 b = VLD8X1(0, src);
  DATA_TYPE4 c = VLD4X3(0, src);
  uchar16 d = VLD16X(0, src);
  out[0] = a.x; out[1] = a.w; out[2] = b.s4; out[3] = c.y; out[4] = d.sf; out[7] = w[0];
#ifdef NO_HALF_LOADS
  out[5] = -1; out[6] = -1;
#else
  DATA_TYPE4 e = VLD4(0, src);
  DATA_TYPE v = VLD(4, src);
  out[5] = e.z; out[6] = v;
#endif
}
__kernel void out_probe(OUT_TYPE o) {
#ifdef USE_BUFFER_OUT
  o[0] = (DATA_TYPE)0;
#else
  WRITE_IMAGE(o, (int2)(0, 0), (DATA_TYPE4)(0));
#endif
}
)CLC";

// Runs prelude_probe with the build options given in the environment;
// prints the 8 results, one per line.
OX_CHILD_CASE(PreludeOnDevice) {
  const char* options = std::getenv("OXRIN_PRELUDE_OPTIONS");
  const char* prefix = std::getenv("OXRIN_PRELUDE_PREFIX");
  opencl::ClDispatchTable t({opencl::OpenClLibraryPaths().back()});
  std::fflush(stdout);
  std::printf("\n");
  if (!t.allRequiredFound || t.module == nullptr) return 10;
  cl_platform_id platform = nullptr;
  cl_device_id device = nullptr;
  if (t.clGetPlatformIDs(1, &platform, nullptr) != CL_SUCCESS) return 11;
  if (t.clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device, nullptr) != CL_SUCCESS) return 12;
  cl_int err = 0;
  cl_context ctx = t.clCreateContext(nullptr, 1, &device, nullptr, nullptr, &err);
  cl_command_queue q = t.clCreateCommandQueue(ctx, device, 0, &err);
  const std::string source = std::string(prefix ? prefix : "") + opencl::ClPreludeText() + kProbeKernel;
  const char* src = source.c_str();
  cl_program prog = t.clCreateProgramWithSource(ctx, 1, &src, nullptr, &err);
  const cl_int built = t.clBuildProgram(prog, 1, &device, options ? options : "", nullptr, nullptr);
  if (built != CL_SUCCESS) {
    char log[8192] = {};
    t.clGetProgramBuildInfo(prog, device, CL_PROGRAM_BUILD_LOG, sizeof log - 1, log, nullptr);
    std::printf("build failed %d: %s\n", built, log);
    return 13;
  }
  const uint16_t halves[8] = {0x3C00, 0x4000, 0x4200, 0x4400, 0x4500, 0, 0, 0};  // 1 2 3 4 5
  const float weights[4] = {0.5f, 0, 0, 0};
  cl_mem in = t.clCreateBuffer(ctx, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR, sizeof halves,
                               const_cast<uint16_t*>(halves), &err);
  cl_mem w = t.clCreateBuffer(ctx, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR, sizeof weights,
                              const_cast<float*>(weights), &err);
  cl_mem out = t.clCreateBuffer(ctx, CL_MEM_WRITE_ONLY, 8 * sizeof(float), nullptr, &err);
  cl_kernel k = t.clCreateKernel(prog, "prelude_probe", &err);
  if (k == nullptr) return 14;
  const cl_short dims[2] = {1, 1};
  t.clSetKernelArg(k, 0, sizeof in, &in);
  t.clSetKernelArg(k, 1, sizeof out, &out);
  t.clSetKernelArg(k, 2, sizeof w, &w);
  t.clSetKernelArg(k, 3, sizeof dims[0], &dims[0]);
  t.clSetKernelArg(k, 4, sizeof dims[1], &dims[1]);
  const size_t global[2] = {1, 1};
  if (t.clEnqueueNDRangeKernel(q, k, 2, nullptr, global, nullptr, 0, nullptr, nullptr) != CL_SUCCESS) return 15;
  float result[8] = {};
  if (t.clEnqueueReadBuffer(q, out, CL_TRUE, 0, sizeof result, result, 0, nullptr, nullptr) != CL_SUCCESS)
    return 16;
  for (float r : result) std::printf("%.6g\n", r);
  t.clReleaseKernel(k);
  t.clReleaseMemObject(in);
  t.clReleaseMemObject(w);
  t.clReleaseMemObject(out);
  t.clReleaseProgram(prog);
  t.clReleaseCommandQueue(q);
  t.clReleaseContext(ctx);
  return 0;
}

struct DeviceCase {
  const char* label;
  const char* options;
  const char* prefix;
};

class PreludeOnDevice : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(PreludeOnDevice, FloatVariantBuildsAndYieldsTheFixedValues) {
  if (access(opencl::OpenClLibraryPaths().back().c_str(), R_OK) != 0) GTEST_SKIP() << "no OpenCL library";
  const auto run = testutil::RunChildCase(
      "PreludeOnDevice", {{"OXRIN_PRELUDE_OPTIONS", GetParam().options}, {"OXRIN_PRELUDE_PREFIX", GetParam().prefix}});
  if (run.status == 11 || run.status == 12) GTEST_SKIP() << "no OpenCL device";
  ASSERT_EQ(run.status, 0) << run.output;
  const size_t marker = run.output.rfind("LoadLibraryFromPath");
  std::istringstream lines(run.output.substr(run.output.find('\n', marker) + 1));
  const bool halfLoads = std::strstr(GetParam().options, "NO_HALF_LOADS") == nullptr;
  const double expected[8] = {0.35, 0.66, 2.2, 0.31, 43, halfLoads ? 3.0 : -1.0, halfLoads ? 5.0 : -1.0, 0.5};
  for (double e : expected) {
    double got = 0;
    ASSERT_TRUE(lines >> got) << run.output;
    EXPECT_NEAR(got, e, 1e-6);
  }
}

INSTANTIATE_TEST_SUITE_P(Switches, PreludeOnDevice,
                         ::testing::Values(DeviceCase{"plain", "", ""}, DeviceCase{"qualcomm", " -DQUALCOMM", ""},
                                           // This device refuses vload_half and vstore_half at
                                           // CL2.0 (half pointers need cl_khr_fp16 there).
                                           DeviceCase{"cl2", " -cl-std=CL2.0 -DNO_HALF_LOADS", ""},
                                           DeviceCase{"buffer_out", "", "\r\n #define USE_BUFFER_OUT \r\n"}),
                         [](const ::testing::TestParamInfo<DeviceCase>& i) { return std::string(i.param.label); });

}  // namespace
