// The platform layer as both systems must provide it: loading and
// unloading, already-loaded lookups, pinning, file names of this build's
// libraries, the program's own path and the environment.
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <unistd.h>  // write, read, close (MinGW-w64 has them too)

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using ProbeFn = int (*)();

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(PlatformLoading, OpenFindCloseAndLoadedLookups) {
  ASSERT_EQ(platform::LoadedLibrary(PROBE_PLAIN_PATH), nullptr) << "loaded before the test";
  platform::LibHandle lib = platform::OpenLibrary(PROBE_PLAIN_PATH);
  ASSERT_NE(lib, nullptr) << platform::LastLoadError();

  auto fn = reinterpret_cast<ProbeFn>(platform::FindSymbol(lib, "probe_value"));
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn(), 41);
  EXPECT_EQ(platform::FindSymbol(lib, "probe_absent"), nullptr);
  EXPECT_NE(platform::LastLoadError().find("probe_absent"), std::string::npos)
      << platform::LastLoadError();

  // A lookup takes a reference of its own and never loads.
  platform::LibHandle again = platform::LoadedLibrary(PROBE_PLAIN_PATH);
  ASSERT_NE(again, nullptr);
  platform::CloseLibrary(again);

  // The last reference unmaps it.
  platform::CloseLibrary(lib);
  EXPECT_EQ(platform::LoadedLibrary(PROBE_PLAIN_PATH), nullptr);
}

TEST(PlatformLoading, PinnedLibraryOutlivesItsLastClose) {
  platform::LibHandle lib = platform::OpenLibrary(PROBE_PINNED_PATH, platform::kLoadPinned);
  ASSERT_NE(lib, nullptr) << platform::LastLoadError();
  platform::CloseLibrary(lib);
  platform::LibHandle still = platform::LoadedLibrary(PROBE_PINNED_PATH);
  ASSERT_NE(still, nullptr);
  auto fn = reinterpret_cast<ProbeFn>(platform::FindSymbol(still, "probe_value"));
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn(), 42);
}

TEST(PlatformLoading, MissingLibraryAnswersNullAndSaysWhich) {
  const std::string path = std::string(PROBE_PLAIN_PATH) + ".absent";
  EXPECT_EQ(platform::OpenLibrary(path.c_str()), nullptr);
  EXPECT_NE(platform::LastLoadError().find("absent"), std::string::npos) << platform::LastLoadError();
  EXPECT_EQ(platform::OpenLibrary(nullptr), nullptr);
  EXPECT_EQ(platform::LoadedLibrary(nullptr), nullptr);
  EXPECT_EQ(platform::FindSymbol(nullptr, "probe_value"), nullptr);
  platform::CloseLibrary(nullptr);
}

// The OpenCL library stays mapped at exit on Windows, where a DLL's exit
// handlers run inside the loader's detach notification and may free no
// library; a build without leak checking elsewhere frees it.
TEST(PlatformLoading, LibrariesStayMappedAtExitOnlyWhereTheyMust) {
#if defined(__SANITIZE_ADDRESS__)
  constexpr bool kLeakChecked = true;
#else
  constexpr bool kLeakChecked = false;
#endif
  if (platform::kWindows) {
    EXPECT_TRUE(platform::KeepLibrariesAtExit());
  } else if (!kLeakChecked) {
    EXPECT_FALSE(platform::KeepLibrariesAtExit());
  }
}

TEST(PlatformNames, LibraryFileNameMatchesTheBuild) {
  EXPECT_EQ(platform::SharedLibraryFileName("platform_probe_plain"), PROBE_PLAIN_FILE_NAME);
}

TEST(PlatformNames, ExecutablePathNamesThisProgramWithForwardSlashes) {
  const std::string exe = platform::ExecutablePath();
  EXPECT_TRUE(EndsWith(exe, std::string("/") + PLATFORM_TESTS_FILE_NAME)) << exe;
  EXPECT_EQ(exe.find('\\'), std::string::npos) << exe;
}

TEST(PlatformProcess, EnvironmentIsVisibleToGetenv) {
  ASSERT_TRUE(platform::SetEnv("OXRIN_PLATFORM_TEST", "one"));
  ASSERT_NE(std::getenv("OXRIN_PLATFORM_TEST"), nullptr);
  EXPECT_STREQ(std::getenv("OXRIN_PLATFORM_TEST"), "one");
  ASSERT_TRUE(platform::SetEnv("OXRIN_PLATFORM_TEST", "two"));
  EXPECT_STREQ(std::getenv("OXRIN_PLATFORM_TEST"), "two");
}

// The program cache replaces its file through a temporary one and a rename;
// that must work over an existing file on every system.
TEST(PlatformFiles, RenameReplacesAnExistingFile) {
  const std::string dir = ::testing::TempDir();
  const std::string target = dir + "oxrin_rename_target.bin";
  const std::string temp = dir + "oxrin_rename_target.bin.tmp";
  std::remove(target.c_str());

  Write(temp, "first");
  ASSERT_TRUE(platform::RenameReplacing(temp.c_str(), target.c_str()));
  EXPECT_EQ(Read(target), "first");

  Write(temp, "second, longer");
  ASSERT_TRUE(platform::RenameReplacing(temp.c_str(), target.c_str()));
  EXPECT_EQ(Read(target), "second, longer");
  EXPECT_FALSE(std::ifstream(temp).good()) << "the temporary name is gone";

  EXPECT_FALSE(platform::RenameReplacing(temp.c_str(), target.c_str())) << "no source";
  EXPECT_EQ(Read(target), "second, longer");
  std::remove(target.c_str());
}

// A child's exit status, or 128 + the signal that ended it; no child at
// all where there is no fork.
TEST(PlatformProcess, ChildProcessReportsHowItEnded) {
  const struct {
    int (*fn)();
    int status;
  } cases[] = {{[] { return 0; }, 0},
               {[] { return 7; }, 7},
               {[] {
                  std::abort();
                  return 0;
                },
                128 + 6}};
  for (const auto& c : cases) {
    EXPECT_EQ(platform::RunInChildProcess(c.fn), platform::kCanForkChild ? c.status : -1);
  }
}

TEST(PlatformProcess, CapturePipeCarriesBytesUnchanged) {
  int fds[2];
  ASSERT_TRUE(platform::OpenCapturePipe(fds));
  const char sent[] = "a\nb\r\n\0z";
  ASSERT_EQ(write(fds[1], sent, sizeof sent), static_cast<int>(sizeof sent));
  close(fds[1]);
  char got[32] = {};
  EXPECT_EQ(read(fds[0], got, sizeof got), static_cast<int>(sizeof sent));
  close(fds[0]);
  EXPECT_EQ(std::memcmp(got, sent, sizeof sent), 0);
}

TEST(PlatformClock, TicksAdvanceAndConvert) {
  EXPECT_GT(platform::ClockTicksPerSecond(), 0);
  const int64_t a = platform::ClockTicks();
  const int64_t b = platform::ClockTicks();
  EXPECT_GE(b, a);
  EXPECT_DOUBLE_EQ(platform::TicksToMs(0, platform::ClockTicksPerSecond()), 1000.0);
}

}  // namespace
