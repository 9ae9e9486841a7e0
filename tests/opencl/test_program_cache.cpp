// Program build, kernel lookup and the binary cache file.  Every case that
// hands a file to the driver runs in a child process, so a crash is told
// apart from a failed check.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "child_case.h"
#include "engine_fixture.h"
#include "opencl/cl_engine.h"

namespace {

namespace fs = std::filesystem;
using opencl::clEngine;

const char* const kSource =
    "__kernel void add_one(__global int* d) { d[get_global_id(0)] += 1; }\n"
    "__kernel void add_one_twice(__global int* d) { d[get_global_id(0)] += 2; }\n";

constexpr const char* kDirEnv = "OXRIN_TEST_CACHE_DIR";
constexpr const char* kDamageEnv = "OXRIN_TEST_DAMAGE";


std::string CacheDir() {
  const char* d = std::getenv(kDirEnv);
  return d ? d : "";
}

std::vector<char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool NoTempLeft(const std::string& dir) {
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().extension() == ".tmp") return false;
  }
  return true;
}

// Runs add_one over four ints and reads them back.
bool RunAddOne(clEngine& engine, cl_kernel k, int expectedAfter) {
  int data[4] = {10, 10, 10, 10};
  cl_mem buf = engine.CreateBuffer(sizeof data, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, data);
  if (buf == nullptr) return false;
  size_t global = 4;
  bool ok = clSetKernelArg(k, 0, sizeof buf, &buf) == CL_SUCCESS &&
            clEnqueueNDRangeKernel(engine.queue, k, 1, nullptr, &global, nullptr, 0, nullptr,
                                   nullptr) == CL_SUCCESS &&
            clEnqueueReadBuffer(engine.queue, buf, CL_TRUE, 0, sizeof data, data, 0, nullptr,
                                nullptr) == CL_SUCCESS;
  clReleaseMemObject(buf);
  for (int v : data) ok = ok && v == expectedAfter;
  return ok;
}

class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/oxrin_cache_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  testutil::ChildRun Run(const char* name, const std::string& damage = "") {
    return testutil::RunChildCase(name, {{kDirEnv, dir_}, {kDamageEnv, damage}});
  }
  std::string dir_;
};

// ---- Save, load, reuse -------------------------------------------------------

OX_CHILD_CASE(CacheSaveLoadReuse) {
  const std::string path = CacheDir() + "/prog.bin";
  {
    clEngine builder;
    if (!testutil::InitOnCpu(builder, false)) return 1;
    CHILD_CHECK(builder.BuildFromSource(kSource, path));
    CHILD_CHECK(builder.kernels.size() == 2);
    CHILD_CHECK(builder.kernelsByName.empty());  // filled by LoadBinary only
  }
  CHILD_CHECK(fs::file_size(path) > 0);
  CHILD_CHECK(fs::exists(opencl::BinaryCacheRecordPath(path)));
  CHILD_CHECK(NoTempLeft(CacheDir()));

  clEngine engine;
  if (!testutil::InitOnCpu(engine, false)) return 1;
  CHILD_CHECK(engine.LoadBinary(path));
  CHILD_CHECK(engine.kernels.size() == 2);
  CHILD_CHECK(engine.kernelsByName.size() == 2);
  cl_kernel twiceFront = engine.GetKernel("add_one_twice", false, true);
  cl_kernel twiceBack = engine.GetKernel("add_one_twice", false, false);
  CHILD_CHECK(twiceFront != nullptr && twiceFront == twiceBack);
  CHILD_CHECK(engine.kernelsByName["add_one_twice"] == twiceFront);
  CHILD_CHECK(engine.GetKernel("add_on", false, true) == nullptr);  // a prefix is no match
  cl_kernel one = engine.GetKernel("add_one", false, true);
  CHILD_CHECK(one != nullptr && one != twiceFront);
  cl_kernel created = engine.GetKernel("add_one_twice", true, true);
  CHILD_CHECK(created != nullptr && created != twiceFront);
  CHILD_CHECK(engine.kernels.size() == 3);
  // The loaded program runs.
  CHILD_CHECK(RunAddOne(engine, one, 11));
  CHILD_CHECK(RunAddOne(engine, created, 12));
  CHILD_CHECK(engine.Release());
  CHILD_CHECK(engine.kernels.empty() && engine.program == nullptr && engine.context == nullptr);
  CHILD_CHECK(engine.Release());
  return 0;
}

TEST_F(ScratchDir, SaveLoadAndReuse) {
  const testutil::ChildRun run = Run("CacheSaveLoadReuse");
  EXPECT_EQ(run.status, 0) << run.output;
}

// ---- Damaged or foreign cache files ----------------------------------------------

// Builds and saves, damages the file as named, then loads: prints the load
// error, rebuilds and checks the rebuilt file loads again.
OX_CHILD_CASE(CacheDamagedThenRebuilt) {
  const std::string dir = CacheDir();
  const std::string path = dir + "/prog.bin";
  const std::string record = opencl::BinaryCacheRecordPath(path);
  const std::string damage = std::getenv(kDamageEnv);
  clEngine engine;
  if (!testutil::InitOnCpu(engine, false)) return 1;
  CHILD_CHECK(engine.BuildFromSource(kSource, path));
  std::vector<char> bytes = ReadAll(path);
  CHILD_CHECK(bytes.size() > 200);

  if (damage == "half") {
    bytes.resize(bytes.size() / 2);
    WriteAll(path, bytes);
  } else if (damage == "100") {
    bytes.resize(100);
    WriteAll(path, bytes);
  } else if (damage == "empty") {
    WriteAll(path, {});
  } else if (damage == "flip") {
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0xFF);
    WriteAll(path, bytes);
  } else if (damage == "norecord") {
    fs::remove(record);
  } else if (damage == "foreign") {
    opencl::BinaryCacheRecord r;
    const std::vector<char> text = ReadAll(record);
    CHILD_CHECK(opencl::ParseCacheRecord(std::string(text.begin(), text.end()), &r));
    r.deviceName = "Some Other GPU";
    const std::string t = opencl::FormatCacheRecord(r);
    WriteAll(record, std::vector<char>(t.begin(), t.end()));
  } else if (damage == "missing") {
    fs::remove(path);
  } else {
    return 1;
  }

  const size_t kernelsBefore = engine.kernels.size();
  CHILD_CHECK(!engine.LoadBinary(path));
  std::printf("lastError=[%s]\n", engine.lastError.c_str());
  // Rejected before the driver saw it: the built program stays usable.
  CHILD_CHECK(engine.program != nullptr);
  CHILD_CHECK(engine.kernels.size() == kernelsBefore);

  CHILD_CHECK(engine.BuildFromSource(kSource, path));
  CHILD_CHECK(NoTempLeft(dir));
  clEngine again;
  if (!testutil::InitOnCpu(again, false)) return 1;
  CHILD_CHECK(again.LoadBinary(path));
  CHILD_CHECK(RunAddOne(again, again.GetKernel("add_one", false, true), 11));
  return 0;
}

struct DamageCase {
  const char* damage;
  bool openError;  // "Open file ... error!" rather than a stale or damaged cache
};
void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.damage; }

class DamagedCache : public ScratchDir, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedCache, RejectedWithoutCrashThenRebuilt) {
  const DamageCase c = GetParam();
  const testutil::ChildRun run = Run("CacheDamagedThenRebuilt", c.damage);
  ASSERT_FALSE(run.Crashed()) << "child crashed, status " << run.status << "\n" << run.output;
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string expected =
      c.openError ? "lastError=[Open file " + dir_ + "/prog.bin error!]\n"
                  : "lastError=[Binary cache stale or damaged, rebuilding it from source]\n";
  EXPECT_NE(run.output.find(expected), std::string::npos) << run.output;
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedCache,
                         ::testing::Values(DamageCase{"half", false}, DamageCase{"100", false},
                                           DamageCase{"empty", true}, DamageCase{"flip", false},
                                           DamageCase{"norecord", false},
                                           DamageCase{"foreign", false},
                                           DamageCase{"missing", true}),
                         [](const ::testing::TestParamInfo<DamageCase>& info) {
                           return std::string("damage_") + info.param.damage;
                         });

// ---- Paths that cannot hold a cache file ---------------------------------------------

OX_CHILD_CASE(CacheUnusablePaths) {
  const std::string dir = CacheDir();
  clEngine engine;
  if (!testutil::InitOnCpu(engine, false)) return 1;

  // A directory where the file should be.
  const std::string asDir = dir + "/is_a_dir.bin";
  fs::create_directory(asDir);
  CHILD_CHECK(!engine.LoadBinary(asDir));
  std::printf("load dir=[%s]\n", engine.lastError.c_str());
  CHILD_CHECK(!engine.BuildFromSource(kSource, asDir));
  std::printf("save dir=[%s]\n", engine.lastError.c_str());
  CHILD_CHECK(fs::is_directory(asDir));
  CHILD_CHECK(engine.kernels.size() == 2);  // the built program stays current

  // A folder that does not exist.
  const std::string nowhere = dir + "/no/such/folder/prog.bin";
  CHILD_CHECK(!engine.BuildFromSource(kSource, nowhere));
  std::printf("save nowhere=[%s]\n", engine.lastError.c_str());

  // A device that is not a plain file is never replaced or written.
  CHILD_CHECK(!engine.BuildFromSource(kSource, "/dev/full"));
  std::printf("save full=[%s]\n", engine.lastError.c_str());
  struct stat st;
  CHILD_CHECK(stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
  CHILD_CHECK(!fs::exists(opencl::CacheTempPath("/dev/full")));

  // Empty path: built, nothing written.
  CHILD_CHECK(engine.BuildFromSource(kSource, ""));
  CHILD_CHECK(NoTempLeft(dir));
  return 0;
}

TEST_F(ScratchDir, UnusablePathsGiveExactErrors) {
  const testutil::ChildRun run = Run("CacheUnusablePaths");
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string expected = "load dir=[Open file " + dir_ + "/is_a_dir.bin error!]\n" +
                               "save dir=[Save bin to " + dir_ + "/is_a_dir.bin error!]\n" +
                               "save nowhere=[Save bin to " + dir_ +
                               "/no/such/folder/prog.bin error!]\n" +
                               "save full=[Save bin to /dev/full error!]\n";
  EXPECT_EQ(run.output, expected);
  // Only the directory made by the case is left.
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir_)) left.push_back(e.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"is_a_dir.bin"});
}

// A temporary file that cannot be written (here: its name is taken by a
// folder) fails the save, leaves the earlier cache file whole and nothing
// partial behind.
OX_CHILD_CASE(CacheFailedWriteKeepsOldFile) {
  const std::string dir = CacheDir();
  const std::string path = dir + "/prog.bin";
  clEngine engine;
  if (!testutil::InitOnCpu(engine, false)) return 1;
  CHILD_CHECK(engine.BuildFromSource(kSource, path));
  const std::vector<char> before = ReadAll(path);
  const std::string temp = opencl::CacheTempPath(path);
  fs::create_directory(temp);
  CHILD_CHECK(!engine.BuildFromSource(kSource, path));
  std::printf("lastError=[%s]\n", engine.lastError.c_str());
  CHILD_CHECK(ReadAll(path) == before);
  CHILD_CHECK(fs::is_directory(temp));
  fs::remove(temp);
  CHILD_CHECK(engine.LoadBinary(path));
  return 0;
}

TEST_F(ScratchDir, FailedWriteKeepsOldFileAndLeavesNoPartialFile) {
  const testutil::ChildRun run = Run("CacheFailedWriteKeepsOldFile");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "lastError=[Save bin to " + dir_ + "/prog.bin error!]\n");
}

// Another process's temporary file beside the cache (here: one at the
// name every process used to share, held by a folder) does not stop this
// process from saving: each writes through a file of its own.
OX_CHILD_CASE(CacheSaveBesideAnotherProcesssTemp) {
  const std::string dir = CacheDir();
  const std::string path = dir + "/prog.bin";
  clEngine engine;
  if (!testutil::InitOnCpu(engine, false)) return 1;
  fs::create_directory(path + ".tmp");
  CHILD_CHECK(opencl::CacheTempPath(path) != path + ".tmp");
  CHILD_CHECK(engine.BuildFromSource(kSource, path));
  CHILD_CHECK(engine.LoadBinary(path));
  fs::remove(path + ".tmp");
  return 0;
}

TEST_F(ScratchDir, SaveIsNotBlockedByAnotherProcesssTemporaryFile) {
  const testutil::ChildRun run = Run("CacheSaveBesideAnotherProcesssTemp");
  EXPECT_EQ(run.status, 0) << run.output;
}

// ---- In-process cases ----------------------------------------------------------------

TEST(ProgramBuild, SyntaxErrorGivesBuildLog) {
  clEngine engine;
  ASSERT_TRUE(testutil::InitOnCpu(engine, false));
  EXPECT_FALSE(engine.BuildFromSource("__kernel void broken( { }", ""));
  const std::string prefix = "Build Programe Error!\n";
  ASSERT_EQ(engine.lastError.compare(0, prefix.size(), prefix), 0) << engine.lastError;
  EXPECT_GT(engine.lastError.size(), prefix.size()) << "no build log";
}

TEST(ProgramBuild, LoadBeforeInitIsRefused) {
  clEngine engine;
  EXPECT_FALSE(engine.LoadBinary("/tmp/whatever.bin"));
  EXPECT_EQ(engine.lastError, "clEngine not initialized!");
  EXPECT_TRUE(engine.Release());
}

struct RecordCase {
  const char* text;
  bool valid;
};
void PrintTo(const RecordCase& c, std::ostream* os) {
  *os << (c.valid ? "valid_" : "invalid_") << std::string(c.text).size() << "_bytes";
}

class CacheRecordParse : public ::testing::TestWithParam<RecordCase> {};

TEST_P(CacheRecordParse, AllFourFieldsRequired) {
  opencl::BinaryCacheRecord r;
  EXPECT_EQ(opencl::ParseCacheRecord(GetParam().text, &r), GetParam().valid) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CacheRecordParse,
    ::testing::Values(RecordCase{"length 12\nhash 1f\ndevice gpu, v2\ndriver 3.1\n", true},
                      RecordCase{"length 12\nhash 1f\ndevice \ndriver \n", true},
                      RecordCase{"length 12\nhash 1f\ndevice gpu\n", false},
                      RecordCase{"length x\nhash 1f\ndevice gpu\ndriver 1\n", false},
                      RecordCase{"length 12\nhash zz\ndevice gpu\ndriver 1\n", false},
                      RecordCase{"", false}));

TEST(CacheRecord, FormatsFieldsAndHashesBytes) {
  opencl::BinaryCacheRecord r;
  r.length = 3;
  r.hash = opencl::BinaryHash("abc", 3);
  r.deviceName = "Mali-G76, r1";
  r.driverVersion = "3.1+debian";
  // FNV-1a 64 of "abc".
  EXPECT_EQ(r.hash, 0xe71fa2190541574bULL);
  EXPECT_EQ(opencl::FormatCacheRecord(r),
            "length 3\nhash e71fa2190541574b\ndevice Mali-G76, r1\ndriver 3.1+debian\n");
  opencl::BinaryCacheRecord back;
  ASSERT_TRUE(opencl::ParseCacheRecord(opencl::FormatCacheRecord(r), &back));
  EXPECT_EQ(back.hash, r.hash);
  EXPECT_EQ(back.deviceName, r.deviceName);
}

}  // namespace
