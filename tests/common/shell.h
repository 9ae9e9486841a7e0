// Running commands from tests: exit status and standard error of a shell
// command, and whole-file reads.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace testutil {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs a command through the shell; returns its exit status (128 + signal
// when it was killed) and, when asked, what it wrote to standard error.
inline int Shell(const std::string& command, std::string* err = nullptr) {
  char path[] = "/tmp/oxrin_shell_err_XXXXXX";
  const int fd = mkstemp(path);
  if (fd >= 0) close(fd);
  const int status = std::system((command + " 2>" + path).c_str());
  if (err) *err = ReadFile(path);
  std::remove(path);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace testutil
