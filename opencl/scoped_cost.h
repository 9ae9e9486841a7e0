// Wall-clock timer for one step: prints "<label> cost:   <ms>ms" when it
// ends, at scope exit or at an explicit End, whichever comes first.
#pragma once

#include <cstdint>
#include <string>

namespace opencl {

class ScopedCost {
 public:
  explicit ScopedCost(std::string label, bool autoPrint = true);
  ~ScopedCost();
  ScopedCost(const ScopedCost&) = delete;
  ScopedCost& operator=(const ScopedCost&) = delete;

  // Reports now; the scope exit that follows prints nothing more.
  void End();

  // Formats one report line, newline included.
  static std::string FormatLine(const std::string& label, float ms);

 private:
  std::string label_;
  int64_t startNs_ = 0;
  bool autoPrint_ = false;
  bool ended_ = false;
};

// Monotonic clock in nanoseconds, converted from the platform's counter
// without overflow for any counter value.
int64_t MonotonicNs();

}  // namespace opencl
