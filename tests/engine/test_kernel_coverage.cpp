// Every kernel of the engine program is launched somewhere in this test
// executable on this machine's device, except the few it cannot reach.
// The check reruns the executable's other tests in one child process,
// which writes each kernel's launch count when it ends.  A kernel counts
// once whatever its memory forms: the "_buf_out" variants of one source
// share its body and differ only in the store helper, which the buffer
// forms of the convolutions and pooling exercise.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "tests/engine/cl_device.h"

namespace {

const char* const kCoverageVariable = "OXRIN_KERNEL_COVERAGE";

// Kernels of the program a device may be unable to launch, and why (the
// sub-group kernel is in the program only where the device offers
// sub-groups, and then falls back to local memory where the compiler lacks
// the sub-group functions).
const std::map<std::string, std::string> kUnreachable = {
    {"conv3x3_s1x1_n1_x1_sub_group8",
     "needs a device with fixed 8-lane sub-groups; the CPU device has none"},
};

// The kernel's name without its memory-form suffixes.
std::string BaseName(std::string name) {
  for (const char* suffix : {"_buf_out", "_buf_weight"}) {
    const std::string s = suffix;
    if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0)
      name.resize(name.size() - s.size());
  }
  return name;
}

class CoverageReport : public ::testing::Environment {
 public:
  void TearDown() override {
    const char* path = std::getenv(kCoverageVariable);
    if (path == nullptr) return;
    opencl::clEngine* e = cltest::Device();
    if (e == nullptr) return;
    size_t size = 0;
    if (clGetProgramInfo(e->program, CL_PROGRAM_KERNEL_NAMES, 0, nullptr, &size) != CL_SUCCESS)
      return;
    std::string names(size, '\0');
    if (clGetProgramInfo(e->program, CL_PROGRAM_KERNEL_NAMES, size, &names[0], nullptr) !=
        CL_SUCCESS)
      return;
    names.resize(std::strlen(names.c_str()));
    std::ofstream f(path);
    size_t start = 0;
    while (start < names.size()) {
      size_t end = names.find(';', start);
      if (end == std::string::npos) end = names.size();
      const std::string name = names.substr(start, end - start);
      if (!name.empty()) f << name << ' ' << cltest::NamedEnqueues(name.c_str()) << '\n';
      start = end + 1;
    }
  }
};

::testing::Environment* const kReport = ::testing::AddGlobalTestEnvironment(new CoverageReport);

TEST(KernelCoverage, EveryEngineKernelLaunchesOnThisDevice) {
  if (std::getenv(kCoverageVariable) != nullptr) GTEST_SKIP() << "inside the coverage run";
  ASSERT_NE(cltest::Device(), nullptr);
  const std::string path =
      ::testing::TempDir() + "/kernel_coverage_" + std::to_string(getpid()) + ".txt";
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  const std::string cmd = std::string(kCoverageVariable) + "='" + path + "' '" + self +
                          "' --gtest_filter=-KernelCoverage.* >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << "the other engine tests failed";

  std::ifstream f(path);
  std::string name;
  long count = 0;
  int variants = 0, variants_launched = 0;
  std::map<std::string, long> by_kernel;
  while (f >> name >> count) {
    ++variants;
    variants_launched += count > 0;
    by_kernel[BaseName(name)] += count;
  }
  std::remove(path.c_str());
  int launched = 0;
  for (const auto& k : by_kernel) {
    launched += k.second > 0;
    if (k.second == 0 && kUnreachable.count(k.first) == 0)
      ADD_FAILURE() << k.first << " was never launched";
  }
  std::printf("engine kernels launched: %d of %zu (memory-form variants: %d of %d)\n", launched,
              by_kernel.size(), variants_launched, variants);
  for (const auto& u : kUnreachable)
    if (by_kernel.count(u.first) != 0 && by_kernel[u.first] == 0)
      std::printf("  not on this device: %s (%s)\n", u.first.c_str(), u.second.c_str());
  EXPECT_GT(variants, 0);
}

}  // namespace
