#include "opencl/scoped_cost.h"

#include <cstdio>
#include <sstream>
#include <utility>

#include "platform/platform.h"

namespace opencl {
namespace {
constexpr const char* kCostSeparator = " cost:   ";
constexpr const char* kCostUnit = "ms";
}  // namespace

int64_t MonotonicNs() {
  const int64_t counter = platform::ClockTicks();
  const int64_t freq = platform::ClockTicksPerSecond();
  return (counter / freq) * 1000000000LL + (counter % freq) * 1000000000LL / freq;
}

ScopedCost::ScopedCost(std::string label, bool autoPrint)
    : label_(std::move(label)), autoPrint_(autoPrint) {
  if (autoPrint_) startNs_ = MonotonicNs();
}

ScopedCost::~ScopedCost() { End(); }

std::string ScopedCost::FormatLine(const std::string& label, float ms) {
  std::ostringstream line;
  line << label << kCostSeparator << ms << kCostUnit << '\n';
  return line.str();
}

void ScopedCost::End() {
  if (ended_) return;
  ended_ = true;
  if (autoPrint_) {
    const float ms = static_cast<float>(MonotonicNs() - startNs_) / 1000000.0f;
    const std::string line = FormatLine(label_, ms);
    std::fputs(line.c_str(), stdout);
  }
  label_.clear();
}

}  // namespace opencl
