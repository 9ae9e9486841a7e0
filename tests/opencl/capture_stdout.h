// Captures what the code under test writes to standard output (printf as
// well as std::cout) in this process.
#pragma once

#include <unistd.h>  // dup, dup2, read, close (MinGW-w64 has them too)

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace testutil {

// Redirects file descriptor 1 into a pipe from construction until Finish()
// (or destruction) and collects everything written meanwhile.  A reader
// thread is not needed as long as less than the pipe capacity (see
// platform::OpenCapturePipe) is written between construction and Finish().
class CaptureStdout {
 public:
  CaptureStdout() {
    std::fflush(stdout);
    if (!platform::OpenCapturePipe(fds_)) return;
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

}  // namespace testutil
