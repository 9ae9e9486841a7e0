// Named test cases that run in a fresh process: the parent re-executes
// this test binary, which runs only the named case and exits with its
// result.  A fresh process has no OpenCL dispatch table yet (so a case can
// point it at a fake or a persona library) and no OpenCL runtime threads
// (so it may use the real device, unlike a plain fork of a process that
// already did).  A crash of the case is told apart from a failed check.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace testutil {

constexpr const char* kChildCaseEnv = "OXRIN_TEST_CHILD_CASE";
constexpr const char* kChildOutEnv = "OXRIN_TEST_CHILD_OUT";
constexpr const char* kChildEntryFilter = "--gtest_filter=OpenclChildCase.Entry";

using ChildCaseFn = int (*)();

inline std::map<std::string, ChildCaseFn>& ChildCases() {
  static std::map<std::string, ChildCaseFn> cases;
  return cases;
}

struct RegisterChildCase {
  RegisterChildCase(const char* name, ChildCaseFn fn) { ChildCases()[name] = fn; }
};

// Defines a child case: a function returning the exit code (0 for pass).
#define OX_CHILD_CASE(name)                                                        \
  static int ChildCase_##name();                                                   \
  static const ::testutil::RegisterChildCase childCaseReg_##name(#name, &ChildCase_##name); \
  static int ChildCase_##name()

// Inside a child case: prints the failed condition and returns 2.  Exit
// codes of child cases: 0 passed, 1 setup failed, 2 a check failed.
#define CHILD_CHECK(cond)                                          \
  do {                                                             \
    if (!(cond)) {                                                 \
      std::printf("CHECK FAILED line %d: %s\n", __LINE__, #cond);  \
      return 2;                                                    \
    }                                                              \
  } while (0)

struct ChildRun {
  int status = -1;     // exit code; 128 + signal number on a crash; -1 if not started
  std::string output;  // what the case wrote to standard output
  bool Crashed() const { return status > 128; }
};

// Runs the named case in a fresh process with extra environment entries.
inline ChildRun RunChildCase(const std::string& name,
                             const std::vector<std::pair<std::string, std::string>>& env = {}) {
  ChildRun run;
  char outPath[] = "/tmp/oxrin_child_out_XXXXXX";
  const int outFd = mkstemp(outPath);
  if (outFd < 0) return run;
  close(outFd);

  std::vector<std::string> envText;
  for (char** e = environ; *e != nullptr; ++e) envText.emplace_back(*e);
  envText.push_back(std::string(kChildCaseEnv) + "=" + name);
  envText.push_back(std::string(kChildOutEnv) + "=" + outPath);
  for (const auto& kv : env) envText.push_back(kv.first + "=" + kv.second);
  std::vector<char*> envp;
  for (std::string& s : envText) envp.push_back(&s[0]);
  envp.push_back(nullptr);
  std::string self = "/proc/self/exe";
  std::string filter = kChildEntryFilter;
  char* argv[] = {&self[0], &filter[0], nullptr};

  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    // The test framework's own chatter is not part of the case's output.
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 1);
    execve("/proc/self/exe", argv, envp.data());
    _exit(127);
  }
  if (pid > 0) {
    int status = 0;
    if (waitpid(pid, &status, 0) == pid) {
      if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
      else if (WIFSIGNALED(status)) run.status = 128 + WTERMSIG(status);
    }
  }
  std::ifstream in(outPath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  run.output = text.str();
  std::remove(outPath);
  return run;
}

// Called by the entry test in the re-executed binary: runs the case named
// in the environment with standard output sent to the parent's file, then
// exits.  Returns normally only when this process is not a child.
inline void RunChildCaseFromEnvironment() {
  const char* name = std::getenv(kChildCaseEnv);
  const char* out = std::getenv(kChildOutEnv);
  if (name == nullptr || out == nullptr) return;
  std::fflush(stdout);
  const int fd = open(out, O_WRONLY | O_TRUNC);
  if (fd >= 0) {
    dup2(fd, 1);
    close(fd);
  }
  const auto it = ChildCases().find(name);
  const int rc = it == ChildCases().end() ? 99 : it->second();
  std::fflush(nullptr);
  _exit(rc);
}

}  // namespace testutil
