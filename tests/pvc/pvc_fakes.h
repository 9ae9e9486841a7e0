// Host objects for driving PVCVideoFilter directly: a frame over a plane
// the test owns and a control that records logs without allocating on the
// frame path.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "host/extension_interface.h"

namespace testutil {

class PlaneFrame : public host::HostVideoFrame {
 public:
  PlaneFrame(int w, int h) : w_(w), h_(h), plane_(static_cast<size_t>(w > 0 ? w : 0) * (h > 0 ? h : 0)) {}
  void addRef() override { refs.fetch_add(1); }
  int release() override { return refs.fetch_sub(1) > 1 ? 1 : 0; }
  void reserved2() override {}
  void reserved3() override {}
  int getFrameData(host::FrameDataRecord* r) override {
    dataCalls.fetch_add(1);
    r->luma = plane_.empty() ? nullPlane : plane_.data();
    r->width = w_;
    r->height = h_;
    return 0;
  }
  std::vector<uint8_t>& plane() { return plane_; }
  std::atomic<int> refs{0};
  std::atomic<int> dataCalls{0};
  uint8_t* nullPlane = nullptr;

 private:
  int w_, h_;
  std::vector<uint8_t> plane_;
};

// Keeps the last log lines in fixed storage.
class RecordingControl : public host::FilterControl {
 public:
  void addRef() override { refs.fetch_add(1); }
  int release() override { return refs.fetch_sub(1) > 1 ? 1 : 0; }
  void reserved2() override {}
  void reserved3() override {}
  void reserved4() override {}
  void reserved5() override {}
  int postEvent(const char*, const char*) override { return 0; }
  int log(int level, const char* format, ...) override {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(mu_);
    const int slot = count_ % kSlots;
    levels_[slot] = level;
    std::memcpy(lines_[slot], text, sizeof(text));
    ++count_;
    return 0;
  }
  // Log lines so far (at most the last kSlots), as "level text".
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<std::string> out;
    const int first = count_ > kSlots ? count_ - kSlots : 0;
    for (int i = first; i < count_; ++i)
      out.push_back(std::to_string(levels_[i % kSlots]) + " " + lines_[i % kSlots]);
    return out;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mu_);
    count_ = 0;
  }
  std::atomic<int> refs{0};

 private:
  static constexpr int kSlots = 64;
  std::mutex mu_;
  int count_ = 0;
  int levels_[kSlots] = {};
  char lines_[kSlots][256] = {};
};

}  // namespace testutil
