// The device persona: what it reports for each ready persona and for free
// fields, that computation still runs on the real device behind it, and its
// object and enqueue counters.  Each case runs in a fresh process that loads
// the persona by absolute path with OXRIN_CL_PERSONA set.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "child_case.h"
#include "opencl/cl_dispatch.h"
#include "tools/persona/persona_api.h"

namespace {

const std::string kPersona = PERSONA_OPENCL_PATH;
const char* const kVariable = "OXRIN_CL_PERSONA";

// key=value lines of a child's output.
std::map<std::string, std::string> Report(const std::string& output) {
  std::map<std::string, std::string> m;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return m;
}

bool HasWord(const std::string& text, const std::string& word) {
  std::istringstream in(text);
  std::string w;
  while (in >> w)
    if (w == word) return true;
  return false;
}

template <typename Fn>
Fn PersonaFn(const char* name) {
  void* h = dlopen(kPersona.c_str(), RTLD_NOW | RTLD_NOLOAD);
  Fn fn = h ? reinterpret_cast<Fn>(dlsym(h, name)) : nullptr;
  if (h) dlclose(h);
  return fn;
}

std::string DeviceText(const opencl::ClDispatchTable& t, cl_device_id d, cl_device_info what) {
  size_t n = 0;
  if (t.clGetDeviceInfo(d, what, 0, nullptr, &n) != CL_SUCCESS) return "<error>";
  std::string s(n, '\0');
  if (t.clGetDeviceInfo(d, what, n, &s[0], nullptr) != CL_SUCCESS) return "<error>";
  return s.c_str();
}

// What the first device answers through the persona.
OX_CHILD_CASE(PersonaReport) {
  opencl::ClDispatchTable t({kPersona});
  if (!t.allRequiredFound) return 10;
  cl_platform_id platform = nullptr;
  if (t.clGetPlatformIDs(1, &platform, nullptr) != CL_SUCCESS) return 11;
  char vendor[256] = {};
  t.clGetPlatformInfo(platform, CL_PLATFORM_VENDOR, sizeof vendor - 1, vendor, nullptr);
  cl_device_id device = nullptr;
  cl_uint n = 0;
  const cl_int gpu = t.clGetDeviceIDs(platform, CL_DEVICE_TYPE_GPU, 1, &device, &n);
  cl_device_id any = nullptr;
  t.clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &any, nullptr);
  cl_uint cpuCount = 99;
  const cl_int cpu = t.clGetDeviceIDs(platform, CL_DEVICE_TYPE_CPU, 0, nullptr, &cpuCount);
  cl_device_type type = 0;
  t.clGetDeviceInfo(any, CL_DEVICE_TYPE, sizeof type, &type, nullptr);
  std::printf("\nplatform_vendor=%s\n", vendor);
  std::printf("gpu_status=%d\ncpu_status=%d\n", gpu, cpu);
  std::printf("type=%s\n", type == CL_DEVICE_TYPE_GPU ? "GPU" : type == CL_DEVICE_TYPE_CPU ? "CPU" : "other");
  std::printf("name=%s\n", DeviceText(t, any, CL_DEVICE_NAME).c_str());
  std::printf("vendor=%s\n", DeviceText(t, any, CL_DEVICE_VENDOR).c_str());
  std::printf("version=%s\n", DeviceText(t, any, CL_DEVICE_VERSION).c_str());
  std::printf("extensions=%s\n", DeviceText(t, any, CL_DEVICE_EXTENSIONS).c_str());
  auto personaName = PersonaFn<persona_text_fn>("persona_device_name");
  std::printf("persona=%s\n", personaName ? personaName() : "<missing>");
  // A buffer too small for the persona's text is refused, not overrun.
  char tiny[4] = {'x', 'x', 'x', 'x'};
  const cl_int small = t.clGetDeviceInfo(any, CL_DEVICE_NAME, 2, tiny, nullptr);
  std::printf("small_status=%d\nsmall_untouched=%d\n", small, tiny[2] == 'x' ? 1 : 0);
  return 0;
}

bool DeviceAvailable() { return access(opencl::OpenClLibraryPaths().back().c_str(), R_OK) == 0; }

struct PersonaCase {
  const char* label;
  const char* variable;
  const char* name;
  const char* vendor;
  const char* platformVendor;
  const char* version;  // "" for any
};

class PersonaReports : public ::testing::TestWithParam<PersonaCase> {};

TEST_P(PersonaReports, GpuWithStatedTexts) {
  if (!DeviceAvailable()) GTEST_SKIP() << "no OpenCL library";
  const PersonaCase& c = GetParam();
  const auto run = testutil::RunChildCase("PersonaReport", {{kVariable, c.variable}});
  if (run.status == 11) GTEST_SKIP() << "no OpenCL platform";
  ASSERT_EQ(run.status, 0) << run.output;
  const auto r = Report(run.output);
  EXPECT_EQ(r.at("type"), "GPU");
  EXPECT_EQ(r.at("gpu_status"), "0");
  EXPECT_EQ(r.at("cpu_status"), std::to_string(CL_DEVICE_NOT_FOUND));
  EXPECT_EQ(r.at("name"), c.name);
  EXPECT_EQ(r.at("persona"), c.name);
  EXPECT_EQ(r.at("vendor"), c.vendor);
  EXPECT_EQ(r.at("platform_vendor"), c.platformVendor);
  if (*c.version) {
    EXPECT_EQ(r.at("version"), c.version);
  }
  EXPECT_EQ(r.at("small_status"), std::to_string(CL_INVALID_VALUE));
  EXPECT_EQ(r.at("small_untouched"), "1");
  // Never claimed unless asked for.
  EXPECT_FALSE(HasWord(r.at("extensions"), "cl_khr_fp16"));
  EXPECT_FALSE(HasWord(r.at("extensions"), "cl_khr_image2d_from_buffer"));
}

INSTANTIATE_TEST_SUITE_P(
    Ready, PersonaReports,
    ::testing::Values(
        PersonaCase{"nvidia", "nvidia", "NVIDIA GeForce RTX 2070", "NVIDIA Corporation", "NVIDIA Corporation", ""},
        PersonaCase{"intel", "intel", "Intel(R) UHD Graphics 630", "Intel(R) Corporation", "Intel(R) Corporation",
                    ""},
        PersonaCase{"amd", "amd", "gfx1030", "Advanced Micro Devices, Inc.", "Advanced Micro Devices, Inc.", ""},
        PersonaCase{"arm", "arm", "Mali-G76", "ARM", "ARM", ""},
        PersonaCase{"qualcomm", "qualcomm", "QUALCOMM Adreno(TM) 640", "QUALCOMM", "QUALCOMM",
                    "OpenCL 2.0 Adreno(TM) 640"},
        PersonaCase{"imagination", "imagination", "PowerVR Rogue GE8320", "Imagination Technologies",
                    "Imagination Technologies", ""},
        PersonaCase{"apple", "apple", "Apple M1", "Apple", "Apple", ""},
        // Free fields: commas need no escape, ';' and '\' do.
        PersonaCase{"fields", "name=Big\\;Name, v2;vendor=Advanced Micro Devices, Inc.;version=OpenCL 2.0 X",
                    "Big;Name, v2", "Advanced Micro Devices, Inc.", "Advanced Micro Devices, Inc.", "OpenCL 2.0 X"},
        PersonaCase{"fields_on_base", "base=arm;name=Mali-G52;platform=ARM Ltd\\\\x", "Mali-G52", "ARM",
                    "ARM Ltd\\x", "OpenCL 2.1 v1.r26p0-01rel0"}),
    [](const ::testing::TestParamInfo<PersonaCase>& i) { return std::string(i.param.label); });

TEST(Persona, WithoutPersonaEverythingPassesThrough) {
  if (!DeviceAvailable()) GTEST_SKIP() << "no OpenCL library";
  const auto run = testutil::RunChildCase("PersonaReport", {{kVariable, ""}});
  if (run.status == 11) GTEST_SKIP() << "no OpenCL platform";
  ASSERT_EQ(run.status, 0) << run.output;
  const auto r = Report(run.output);
  EXPECT_EQ(r.at("persona"), "");
  EXPECT_NE(r.at("name"), "");
  // The device under the persona is this machine's CPU device.
  EXPECT_EQ(r.at("type"), "CPU");
  EXPECT_EQ(r.at("cpu_status"), "0");
}

TEST(Persona, AddAndRemoveExtensions) {
  if (!DeviceAvailable()) GTEST_SKIP() << "no OpenCL library";
  const auto plain = Report(testutil::RunChildCase("PersonaReport", {{kVariable, "nvidia"}}).output);
  const auto changed = Report(testutil::RunChildCase(
      "PersonaReport", {{kVariable, "base=nvidia;add=cl_khr_fp16 cl_qcom_ext_host_ptr_iocoherent;"
                                    "remove=cl_khr_byte_addressable_store"}}).output);
  ASSERT_TRUE(plain.count("extensions") && changed.count("extensions"));
  EXPECT_TRUE(HasWord(plain.at("extensions"), "cl_khr_byte_addressable_store"));
  EXPECT_FALSE(HasWord(changed.at("extensions"), "cl_khr_byte_addressable_store"));
  EXPECT_TRUE(HasWord(changed.at("extensions"), "cl_khr_fp16"));
  EXPECT_TRUE(HasWord(changed.at("extensions"), "cl_qcom_ext_host_ptr_iocoherent"));
}

// ---------------------------------------------------------------------------
// Computation through the persona.

const char* const kAddKernel = R"CLC(
__kernel void add_one(__global int* data) { data[get_global_id(0)] += 1; }
)CLC";

const char* const kHalfKernel = R"CLC(
#pragma OPENCL EXTENSION cl_khr_fp16 : enable
__kernel void half_add(__global half* data) { half4 v = vload4(0, data); vstore4(v + v, 0, data); }
)CLC";

// Runs add_one over 64 ints through the persona with printf context
// properties of the Arm persona in the list; prints counters.
OX_CHILD_CASE(PersonaRun) {
  opencl::ClDispatchTable t({kPersona});
  auto live = PersonaFn<persona_counter_fn>("persona_live_objects");
  auto enqueues = PersonaFn<persona_counter_fn>("persona_enqueue_count");
  if (live == nullptr || enqueues == nullptr) return 10;
  const long liveAtStart = live();
  cl_platform_id platform = nullptr;
  cl_device_id device = nullptr;
  if (t.clGetPlatformIDs(1, &platform, nullptr) != CL_SUCCESS) return 11;
  if (t.clGetDeviceIDs(platform, CL_DEVICE_TYPE_GPU, 1, &device, nullptr) != CL_SUCCESS) return 12;
  const cl_context_properties props[] = {CL_CONTEXT_PLATFORM, reinterpret_cast<cl_context_properties>(platform),
                                         0x40B1, 4096, 0};
  cl_int err = 0;
  cl_context ctx = t.clCreateContext(props, 1, &device, nullptr, nullptr, &err);
  if (ctx == nullptr) return 13;
  cl_command_queue q = t.clCreateCommandQueue(ctx, device, 0, &err);
  const char* src = kAddKernel;
  cl_program prog = t.clCreateProgramWithSource(ctx, 1, &src, nullptr, &err);
  if (t.clBuildProgram(prog, 1, &device, "", nullptr, nullptr) != CL_SUCCESS) return 14;
  cl_kernel k = t.clCreateKernel(prog, "add_one", &err);
  int data[64];
  for (int i = 0; i < 64; ++i) data[i] = i;
  cl_mem buf = t.clCreateBuffer(ctx, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, sizeof data, data, &err);
  t.clSetKernelArg(k, 0, sizeof buf, &buf);
  const size_t global = 64;
  cl_event done = nullptr;
  const long enqueuesBefore = enqueues();
  if (t.clEnqueueNDRangeKernel(q, k, 1, nullptr, &global, nullptr, 0, nullptr, &done) != CL_SUCCESS) return 15;
  t.clWaitForEvents(1, &done);
  if (t.clEnqueueReadBuffer(q, buf, CL_TRUE, 0, sizeof data, data, 0, nullptr, nullptr) != CL_SUCCESS) return 16;
  int wrong = 0;
  for (int i = 0; i < 64; ++i) wrong += data[i] != i + 1;
  std::printf("\nwrong=%d\nenqueues=%ld\nlive_during=%ld\n", wrong, enqueues() - enqueuesBefore,
              live() - liveAtStart);
  t.clReleaseEvent(done);
  t.clReleaseMemObject(buf);
  t.clReleaseKernel(k);
  t.clReleaseProgram(prog);
  t.clReleaseCommandQueue(q);
  t.clReleaseContext(ctx);
  std::printf("live_after=%ld\n", live() - liveAtStart);

  // The fault switch: the next clCreateBuffer fails with the given status.
  auto fail = PersonaFn<persona_fail_fn>("persona_fail_call");
  if (fail == nullptr) return 17;
  ctx = t.clCreateContext(nullptr, 1, &device, nullptr, nullptr, &err);
  fail("clCreateBuffer", 1, CL_MEM_OBJECT_ALLOCATION_FAILURE);
  err = 0;
  cl_mem failed = t.clCreateBuffer(ctx, CL_MEM_READ_WRITE, 16, nullptr, &err);
  std::printf("fault_handle=%d\nfault_status=%d\n", failed == nullptr ? 0 : 1, err);
  cl_mem next = t.clCreateBuffer(ctx, CL_MEM_READ_WRITE, 16, nullptr, &err);
  std::printf("after_fault=%d\n", next != nullptr && err == CL_SUCCESS ? 1 : 0);
  if (next) t.clReleaseMemObject(next);
  if (failed) t.clReleaseMemObject(failed);

  // A claimed but absent extension fails in the real build.
  src = kHalfKernel;
  prog = t.clCreateProgramWithSource(ctx, 1, &src, nullptr, &err);
  std::printf("half_build=%d\n", t.clBuildProgram(prog, 1, &device, "", nullptr, nullptr));
  t.clReleaseProgram(prog);
  t.clReleaseContext(ctx);
  std::printf("live_end=%ld\n", live() - liveAtStart);
  return 0;
}

TEST(Persona, KernelRunsOnTheRealDeviceAndObjectsBalance) {
  if (!DeviceAvailable()) GTEST_SKIP() << "no OpenCL library";
  const auto run = testutil::RunChildCase("PersonaRun", {{kVariable, "base=arm;add=cl_khr_fp16"}});
  if (run.status == 11) GTEST_SKIP() << "no OpenCL platform";
  ASSERT_EQ(run.status, 0) << run.output;
  const auto r = Report(run.output);
  EXPECT_EQ(r.at("wrong"), "0");
  EXPECT_EQ(r.at("enqueues"), "1");
  // Context, queue, program, kernel, buffer, event.
  EXPECT_EQ(r.at("live_during"), "6");
  EXPECT_EQ(r.at("live_after"), "0");
  EXPECT_EQ(r.at("fault_handle"), "0");
  EXPECT_EQ(r.at("fault_status"), std::to_string(CL_MEM_OBJECT_ALLOCATION_FAILURE));
  EXPECT_EQ(r.at("after_fault"), "1");
  EXPECT_NE(r.at("half_build"), "0");
  EXPECT_EQ(r.at("live_end"), "0");
}

}  // namespace
