// Runs a test case in a forked child so a crash is told apart from a
// failure and process-wide state (loaded libraries, host records) stays
// out of the parent.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace testutil {

// Exit code of fn() in a child, or 128 + signal number when it crashed.
inline int RunInChild(const std::function<int()>& fn) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    int rc = fn();
    std::fflush(nullptr);
    _exit(rc);
  }
  if (pid < 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace testutil
