// Captures what the code under test writes to standard output (printf as
// well as std::cout), in this process or (POSIX) in a forked child.
#pragma once

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <functional>
#include <string>

namespace testutil {

// Redirects file descriptor 1 into a pipe from construction until Finish()
// (or destruction) and collects everything written meanwhile.  A reader
// thread is not needed as long as less than the pipe capacity (64 KiB; on
// Windows the 1 MiB asked for) is written between construction and
// Finish().
class CaptureStdout {
 public:
  CaptureStdout() {
    std::fflush(stdout);
#if defined(_WIN32)
    if (_pipe(fds_, 1 << 20, _O_BINARY) != 0) return;
#else
    if (pipe(fds_) != 0) return;
    // Never block the writer if the pipe fills up: excess is dropped.
    fcntl(fds_[1], F_SETFL, O_NONBLOCK);
#endif
    saved_ = dup(1);
    dup2(fds_[1], 1);
    close(fds_[1]);
    active_ = true;
  }
  ~CaptureStdout() { Finish(); }
  CaptureStdout(const CaptureStdout&) = delete;
  CaptureStdout& operator=(const CaptureStdout&) = delete;

  // Restores standard output and returns all captured text.
  const std::string& Finish() {
    if (!active_) return text_;
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    active_ = false;
    char buf[4096];
    int n;
    while ((n = static_cast<int>(read(fds_[0], buf, sizeof buf))) > 0)
      text_.append(buf, static_cast<size_t>(n));
    close(fds_[0]);
    return text_;
  }

 private:
  int fds_[2] = {-1, -1};
  int saved_ = -1;
  bool active_ = false;
  std::string text_;
};

#if !defined(_WIN32)
struct ChildResult {
  int status = -1;     // exit code, 128 + signal number on a crash, -1 if fork failed
  std::string output;  // everything the child wrote to standard output
};

// Runs fn() in a forked child with its standard output sent to a pipe that
// the parent drains; returns the child's exit code and its output.  Process
// state of the child (loaded libraries, the OpenCL dispatch table) never
// reaches the parent.
inline ChildResult RunInChildCapturing(const std::function<int()>& fn) {
  ChildResult result;
  int fds[2];
  std::fflush(nullptr);
  if (pipe(fds) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    close(fds[1]);
    int rc = fn();
    std::fflush(nullptr);
    _exit(rc);
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return result;
  }
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) result.output.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return result;
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  return result;
}
#endif  // !_WIN32

}  // namespace testutil
