// Loader and dispatch table: the library search over fake OpenCL
// libraries, the loader log, the forwarding functions when unbound, the
// one-time creation of the process-wide table, and status names.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "capture_stdout.h"
#include "child_case.h"
#include "fake_cl_control.h"
#include "opencl/cl_dispatch.h"
#include "opencl/cl_error.h"

namespace {

using opencl::ClDispatchTable;

const std::string kEmpty = FAKE_CL_EMPTY_PATH;
const std::string kNoFill = FAKE_CL_NO_FILL_PATH;
const std::string kNoSubgroups = FAKE_CL_NO_SUBGROUPS_PATH;
const std::string kMulti = FAKE_CL_MULTI_PATH;
const std::string kMissing = FAKE_CL_MISSING_PATH;
const std::string kMissing2 = FAKE_CL_MISSING_PATH ".2";

// True while the library at `path` is mapped in this process.
bool IsLoaded(const std::string& path) {
  void* h = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (h == nullptr) return false;
  dlclose(h);
  return true;
}

// File the code at `fn` comes from.
template <typename Fn>
std::string LibraryOf(Fn fn) {
  Dl_info info{};
  if (fn == nullptr || dladdr(reinterpret_cast<void*>(fn), &info) == 0 || info.dli_fname == nullptr) return "";
  return info.dli_fname;
}

std::string LoadedLines(const std::string& path, bool fill, bool subgroups) {
  return "Load " + path + " succesfully!\n" + "Get function clEnqueueFillBuffer " +
         (fill ? "successfully!\n" : "failed!\n") + "Get function clGetKernelSubGroupInfo " +
         (subgroups ? "successfully!\n" : "failed!\n") + "Get function clGetKernelSubGroupInfoKHR " +
         (subgroups ? "successfully!\n" : "failed!\n");
}

struct SearchCase {
  const char* label;
  std::vector<std::string> paths;
  std::string expectedLog;
  bool allRequiredFound;
  int filledSlots;
  std::string libraryInUse;  // "" when none stays loaded
};

class LibrarySearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(LibrarySearch, LogAndOutcome) {
  const SearchCase& c = GetParam();
  testutil::CaptureStdout capture;
  {
    ClDispatchTable table(c.paths);
    const std::string log = capture.Finish();
    EXPECT_EQ(log, c.expectedLog);
    EXPECT_EQ(table.allRequiredFound, c.allRequiredFound);
    EXPECT_EQ(table.FilledSlots(), c.filledSlots);
    EXPECT_FALSE(table.requiredPhase);
    EXPECT_EQ(table.module != nullptr, !c.libraryInUse.empty());
    if (!c.libraryInUse.empty()) {
      EXPECT_EQ(table.loadedPath, c.libraryInUse);
      // Every slot points into the library in use, none into one passed over.
      EXPECT_EQ(LibraryOf(table.clGetPlatformIDs), c.libraryInUse);
      EXPECT_EQ(LibraryOf(table.clGetImageInfo), c.libraryInUse);
    }
    for (const std::string& p : c.paths)
      EXPECT_EQ(IsLoaded(p), p == c.libraryInUse) << p << " still loaded: " << IsLoaded(p);
  }
  // The table's end frees the library.
  if (!c.libraryInUse.empty()) {
    EXPECT_FALSE(IsLoaded(c.libraryInUse));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fakes, LibrarySearch,
    ::testing::Values(
        SearchCase{"none_found", {kMissing, kMissing2},
                   "Load " + kMissing + " failed!\nLoad " + kMissing2 + " failed!\n", true, 0, ""},
        SearchCase{"empty_only", {kEmpty}, LoadedLines(kEmpty, false, false), false, 0, ""},
        SearchCase{"missing_fill_buffer", {kNoFill},
                   LoadedLines(kNoFill, false, true) + "LoadLibraryFromPath " + kNoFill + " successfully!\n", false,
                   54, kNoFill},
        SearchCase{"no_subgroups", {kNoSubgroups},
                   LoadedLines(kNoSubgroups, true, false) + "LoadLibraryFromPath " + kNoSubgroups +
                       " successfully!\n",
                   true, 53, kNoSubgroups},
        SearchCase{"empty_then_complete", {kEmpty, kNoSubgroups},
                   LoadedLines(kEmpty, false, false) + LoadedLines(kNoSubgroups, true, false) +
                       "LoadLibraryFromPath " + kNoSubgroups + " successfully!\n",
                   true, 53, kNoSubgroups},
        // A partial library does not block a complete one at the next path,
        // and none of its entry points stays in the table.
        SearchCase{"partial_then_complete", {kNoFill, kNoSubgroups},
                   LoadedLines(kNoFill, false, true) + LoadedLines(kNoSubgroups, true, false) +
                       "LoadLibraryFromPath " + kNoSubgroups + " successfully!\n",
                   true, 53, kNoSubgroups},
        SearchCase{"partial_then_missing", {kNoFill, kMissing},
                   LoadedLines(kNoFill, false, true) + "Load " + kMissing + " failed!\n" + "LoadLibraryFromPath " +
                       kNoFill + " successfully!\n",
                   false, 54, kNoFill},
        SearchCase{"complete_first_wins", {kMulti, kNoSubgroups},
                   LoadedLines(kMulti, true, true) + "LoadLibraryFromPath " + kMulti + " successfully!\n", true, 55,
                   kMulti}),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.label); });

TEST(DispatchTable, ReleaseLibraryClearsSlotsBeforeFreeing) {
  testutil::CaptureStdout capture;
  ClDispatchTable table({kMulti});
  capture.Finish();
  ASSERT_EQ(table.FilledSlots(), 55);
  table.ReleaseLibrary();
  EXPECT_EQ(table.FilledSlots(), 0);
  EXPECT_EQ(table.module, nullptr);
  EXPECT_FALSE(IsLoaded(kMulti));
  table.ReleaseLibrary();  // twice is harmless
  EXPECT_EQ(table.module, nullptr);
}

// ---------------------------------------------------------------------------
// The process-wide table and the forwarding functions, each case in a fresh
// process so the table is created there.

OX_CHILD_CASE(DispatchUnbound) {
  if (!opencl::SetProcessClLibraryPaths({kMissing, kMissing2})) return 1;
  cl_uint n = 77;
  if (clGetPlatformIDs(0, nullptr, &n) != CL_INVALID_PLATFORM || n != 77) return 2;
  cl_int err = 12345;
  if (clCreateBuffer(nullptr, CL_MEM_READ_WRITE, 16, nullptr, &err) != nullptr || err != 12345) return 3;
  if (clCreateKernel(nullptr, "k", &err) != nullptr || err != 12345) return 4;
  if (clEnqueueMapBuffer(nullptr, nullptr, CL_TRUE, CL_MAP_READ, 0, 4, 0, nullptr, nullptr, &err) != nullptr ||
      err != 12345)
    return 5;
  if (clFinish(nullptr) != CL_INVALID_PLATFORM || clReleaseMemObject(nullptr) != CL_INVALID_PLATFORM) return 6;
  if (opencl::ProcessClTable().FilledSlots() != 0 || !opencl::ProcessClTable().allRequiredFound) return 7;
  // The path list cannot change once the table exists.
  if (opencl::SetProcessClLibraryPaths({kMulti})) return 8;
  return 0;
}

TEST(ProcessTable, NoLibraryMeansMinus32AndUntouchedErrcode) {
  const auto run = testutil::RunChildCase("DispatchUnbound");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "Load " + kMissing + " failed!\nLoad " + kMissing2 + " failed!\n");
}

using FakeAddPlatform = int (*)(const char*);
using FakeCallCount = int (*)(const char*);

OX_CHILD_CASE(DispatchForwards) {
  if (!opencl::SetProcessClLibraryPaths({kNoFill, kMulti})) return 1;
  const opencl::ClDispatchTable& table = opencl::ProcessClTable();
  if (!table.allRequiredFound || table.loadedPath != kMulti) return 2;
  void* fake = dlopen(kMulti.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (fake == nullptr) return 3;
  auto addPlatform = reinterpret_cast<FakeAddPlatform>(dlsym(fake, "fake_cl_add_platform"));
  auto callCount = reinterpret_cast<FakeCallCount>(dlsym(fake, "fake_cl_call_count"));
  if (addPlatform == nullptr || callCount == nullptr) return 4;
  addPlatform("Vendor A");
  addPlatform("Vendor B");
  cl_uint n = 0;
  if (clGetPlatformIDs(0, nullptr, &n) != CL_SUCCESS || n != 2) return 5;
  cl_platform_id ids[2] = {};
  if (clGetPlatformIDs(2, ids, nullptr) != CL_SUCCESS) return 6;
  char vendor[64] = {};
  if (clGetPlatformInfo(ids[1], CL_PLATFORM_VENDOR, sizeof vendor, vendor, nullptr) != CL_SUCCESS) return 7;
  if (std::string(vendor) != "Vendor B") return 8;
  cl_int err = 1;
  cl_mem buf = clCreateBuffer(reinterpret_cast<cl_context>(ids[0]), CL_MEM_READ_WRITE, 4, nullptr, &err);
  if (buf == nullptr || err != CL_SUCCESS) return 9;
  if (clEnqueueFillBuffer(nullptr, buf, "x", 1, 0, 4, 0, nullptr, nullptr) != CL_SUCCESS) return 10;
  if (callCount("clGetPlatformIDs") != 2 || callCount("clEnqueueFillBuffer") != 1) return 11;
  dlclose(fake);
  return 0;
}

TEST(ProcessTable, ForwardingFunctionsCallTheLibraryInUse) {
  const auto run = testutil::RunChildCase("DispatchForwards");
  EXPECT_EQ(run.status, 0) << run.output;
}

OX_CHILD_CASE(DispatchPartialLibrary) {
  if (!opencl::SetProcessClLibraryPaths({kNoFill})) return 1;
  if (opencl::ProcessClTable().allRequiredFound) return 2;
  // The missing entry point answers -32, the others reach the library.
  if (clEnqueueFillBuffer(nullptr, nullptr, "x", 1, 0, 4, 0, nullptr, nullptr) != CL_INVALID_PLATFORM) return 3;
  if (clFinish(nullptr) != CL_SUCCESS) return 4;
  return 0;
}

TEST(ProcessTable, MissingEntryPointAnswersMinus32) {
  const auto run = testutil::RunChildCase("DispatchPartialLibrary");
  EXPECT_EQ(run.status, 0) << run.output;
}

OX_CHILD_CASE(DispatchManyThreads) {
  if (!opencl::SetProcessClLibraryPaths({kMulti})) return 1;
  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<const opencl::ClDispatchTable*> seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (!go.load()) std::this_thread::yield();
      seen[i] = &opencl::ProcessClTable();
    });
  }
  while (ready.load() < kThreads) std::this_thread::yield();
  go = true;
  for (auto& t : threads) t.join();
  for (const auto* t : seen)
    if (t != seen[0] || t == nullptr) return 2;
  return seen[0]->FilledSlots() == 55 ? 0 : 3;
}

TEST(ProcessTable, FirstUseFromManyThreadsCreatesOnce) {
  const auto run = testutil::RunChildCase("DispatchManyThreads");
  EXPECT_EQ(run.status, 0);
  // One creation: one load attempt, one success line.
  EXPECT_EQ(run.output, LoadedLines(kMulti, true, true) + "LoadLibraryFromPath " + kMulti + " successfully!\n");
}

OX_CHILD_CASE(DispatchSystemLibrary) {
  const opencl::ClDispatchTable& table = opencl::ProcessClTable();
  return table.module != nullptr && table.allRequiredFound ? 0 : 1;
}

// The system's own search list, on a machine with an ICD loader.
TEST(ProcessTable, SystemLibraryLog) {
  void* loader = dlopen(opencl::OpenClLibraryPaths()[0].c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (loader == nullptr) GTEST_SKIP() << "no OpenCL library on this machine";
  const bool subgroups = dlsym(loader, "clGetKernelSubGroupInfo") != nullptr;
  const bool subgroupsKhr = dlsym(loader, "clGetKernelSubGroupInfoKHR") != nullptr;
  dlclose(loader);
  const auto run = testutil::RunChildCase("DispatchSystemLibrary");
  EXPECT_EQ(run.status, 0);
  const std::string& first = opencl::OpenClLibraryPaths()[0];
  EXPECT_EQ(run.output, "Load " + first + " succesfully!\n" + "Get function clEnqueueFillBuffer successfully!\n" +
                            "Get function clGetKernelSubGroupInfo " +
                            (subgroups ? "successfully!\n" : "failed!\n") +
                            "Get function clGetKernelSubGroupInfoKHR " +
                            (subgroupsKhr ? "successfully!\n" : "failed!\n") + "LoadLibraryFromPath " + first +
                            " successfully!\n");
}

TEST(ProcessTable, SearchListIsPlainNameThenAbsolutePath) {
  const auto& paths = opencl::OpenClLibraryPaths();
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[0].find('/'), std::string::npos);
  EXPECT_EQ(paths[1].front(), '/');
  EXPECT_EQ(paths[1].substr(paths[1].size() - paths[0].size()), paths[0]);
}

// ---------------------------------------------------------------------------
// Status names

struct NamedStatus {
  int code;
  const char* name;
};

#define OX_STATUS(macro) NamedStatus{macro, #macro}

class ClErrorNames : public ::testing::TestWithParam<NamedStatus> {};

TEST_P(ClErrorNames, MatchesHeaderName) {
  EXPECT_STREQ(opencl::ClErrorName(GetParam().code), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Named, ClErrorNames,
    ::testing::Values(
        OX_STATUS(CL_SUCCESS), OX_STATUS(CL_DEVICE_NOT_FOUND), OX_STATUS(CL_DEVICE_NOT_AVAILABLE),
        OX_STATUS(CL_COMPILER_NOT_AVAILABLE), OX_STATUS(CL_MEM_OBJECT_ALLOCATION_FAILURE),
        OX_STATUS(CL_OUT_OF_RESOURCES), OX_STATUS(CL_OUT_OF_HOST_MEMORY), OX_STATUS(CL_PROFILING_INFO_NOT_AVAILABLE),
        OX_STATUS(CL_MEM_COPY_OVERLAP), OX_STATUS(CL_IMAGE_FORMAT_MISMATCH), OX_STATUS(CL_IMAGE_FORMAT_NOT_SUPPORTED),
        OX_STATUS(CL_BUILD_PROGRAM_FAILURE), OX_STATUS(CL_MAP_FAILURE), OX_STATUS(CL_MISALIGNED_SUB_BUFFER_OFFSET),
        OX_STATUS(CL_EXEC_STATUS_ERROR_FOR_EVENTS_IN_WAIT_LIST), OX_STATUS(CL_COMPILE_PROGRAM_FAILURE),
        OX_STATUS(CL_LINKER_NOT_AVAILABLE), OX_STATUS(CL_LINK_PROGRAM_FAILURE), OX_STATUS(CL_DEVICE_PARTITION_FAILED),
        OX_STATUS(CL_KERNEL_ARG_INFO_NOT_AVAILABLE), OX_STATUS(CL_INVALID_VALUE), OX_STATUS(CL_INVALID_DEVICE_TYPE),
        OX_STATUS(CL_INVALID_PLATFORM), OX_STATUS(CL_INVALID_DEVICE), OX_STATUS(CL_INVALID_CONTEXT),
        OX_STATUS(CL_INVALID_QUEUE_PROPERTIES), OX_STATUS(CL_INVALID_COMMAND_QUEUE), OX_STATUS(CL_INVALID_HOST_PTR),
        OX_STATUS(CL_INVALID_MEM_OBJECT), OX_STATUS(CL_INVALID_IMAGE_FORMAT_DESCRIPTOR),
        OX_STATUS(CL_INVALID_IMAGE_SIZE), OX_STATUS(CL_INVALID_SAMPLER), OX_STATUS(CL_INVALID_BINARY),
        OX_STATUS(CL_INVALID_BUILD_OPTIONS), OX_STATUS(CL_INVALID_PROGRAM), OX_STATUS(CL_INVALID_PROGRAM_EXECUTABLE),
        OX_STATUS(CL_INVALID_KERNEL_NAME), OX_STATUS(CL_INVALID_KERNEL_DEFINITION), OX_STATUS(CL_INVALID_KERNEL),
        OX_STATUS(CL_INVALID_ARG_INDEX), OX_STATUS(CL_INVALID_ARG_VALUE), OX_STATUS(CL_INVALID_ARG_SIZE),
        OX_STATUS(CL_INVALID_KERNEL_ARGS), OX_STATUS(CL_INVALID_WORK_DIMENSION), OX_STATUS(CL_INVALID_WORK_GROUP_SIZE),
        OX_STATUS(CL_INVALID_WORK_ITEM_SIZE), OX_STATUS(CL_INVALID_GLOBAL_OFFSET),
        OX_STATUS(CL_INVALID_EVENT_WAIT_LIST), OX_STATUS(CL_INVALID_EVENT), OX_STATUS(CL_INVALID_OPERATION),
        OX_STATUS(CL_INVALID_GL_OBJECT), OX_STATUS(CL_INVALID_BUFFER_SIZE), OX_STATUS(CL_INVALID_MIP_LEVEL),
        OX_STATUS(CL_INVALID_GLOBAL_WORK_SIZE), OX_STATUS(CL_INVALID_PROPERTY), OX_STATUS(CL_INVALID_IMAGE_DESCRIPTOR),
        OX_STATUS(CL_INVALID_COMPILER_OPTIONS), OX_STATUS(CL_INVALID_LINKER_OPTIONS),
        OX_STATUS(CL_INVALID_DEVICE_PARTITION_COUNT), OX_STATUS(CL_INVALID_PIPE_SIZE),
        OX_STATUS(CL_INVALID_DEVICE_QUEUE),
        // Without a name in the OpenCL 2.0 set, including codes later
        // headers define.
        NamedStatus{-20, "Unknown CL Error"}, NamedStatus{-25, "Unknown CL Error"},
        NamedStatus{-29, "Unknown CL Error"}, NamedStatus{-71, "Unknown CL Error"},
        NamedStatus{-72, "Unknown CL Error"}, NamedStatus{-1001, "Unknown CL Error"},
        NamedStatus{1, "Unknown CL Error"}, NamedStatus{5, "Unknown CL Error"},
        NamedStatus{INT_MIN, "Unknown CL Error"}, NamedStatus{INT_MAX, "Unknown CL Error"}));

TEST(ClErrorNames, CoversEveryCodeOfTheNamedRanges) {
  int named = 0;
  for (int code = -80; code <= 5; ++code)
    if (std::string(opencl::ClErrorName(code)) != "Unknown CL Error") ++named;
  EXPECT_EQ(named, 1 + 19 + 41);
}

TEST(PrintClError, PrintsNameLineExceptForSuccess) {
  const struct {
    int code;
    const char* printed;
  } rows[] = {{0, ""},
              {-68, "CL_INVALID_DEVICE_PARTITION_COUNT\n"},
              {-32, "CL_INVALID_PLATFORM\n"},
              {-25, "Unknown CL Error\n"}};
  for (const auto& r : rows) {
    testutil::CaptureStdout capture;
    opencl::PrintClError(r.code);
    EXPECT_EQ(capture.Finish(), r.printed) << r.code;
  }
}

}  // namespace
