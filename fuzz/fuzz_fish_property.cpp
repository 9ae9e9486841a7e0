// setProperty of the fisheye filter: key, value and size from the input,
// the value in a buffer of exactly `size` bytes with no terminator.  An
// accepted value is then applied to one small frame, so lens parameters
// from the input also reach the corrector and, with "remap", the pixel
// remap.  Frames are never touched unless the remap is switched on.
#include <cstring>
#include <memory>
#include <vector>

#include "fisheye/fish_correction_filter.h"
#include "fuzz/fuzz_input.h"
#include "host/extension_interface.h"

namespace {

class Frame : public host::HostVideoFrame {
 public:
  Frame(int w, int h)
      : w_(w), h_(h), y_(static_cast<size_t>(w) * h), cb_(static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2)),
        cr_(cb_.size()) {
    for (size_t i = 0; i < y_.size(); ++i) y_[i] = static_cast<uint8_t>(i * 7);
    for (size_t i = 0; i < cb_.size(); ++i) cb_[i] = cr_[i] = static_cast<uint8_t>(i * 3);
  }
  void addRef() override {}
  int release() override { return 1; }
  void reserved2() override {}
  void reserved3() override {}
  int getFrameData(host::FrameDataRecord* r) override {
    r->luma = y_.data();
    r->cb = cb_.data();
    r->cr = cr_.data();
    r->lumaPitch = w_;
    r->chromaPitch = (w_ + 1) / 2;
    r->chromaWidth = (w_ + 1) / 2;
    r->chromaHeight = (h_ + 1) / 2;
    r->width = w_;
    r->height = h_;
    return 0;
  }
  int w_, h_;
  std::vector<uint8_t> y_, cb_, cr_;
};

class Control : public host::FilterControl {
 public:
  void addRef() override {}
  int release() override { return 1; }
  void reserved2() override {}
  void reserved3() override {}
  void reserved4() override {}
  void reserved5() override {}
  int postEvent(const char*, const char*) override { return 0; }
  int log(int, const char*, ...) override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzin::Input in(data, size);
  const uint8_t keyChoice = in.byte();
  const std::string key = keyChoice < 224 ? std::string(fisheye::kPropertyKey) : in.text(in.byte() % 24);
  const uint8_t frameChoice = in.byte();
  const size_t valueSize = in.u16() % 4096;
  std::vector<uint8_t> rest = in.rest();
  const size_t passed = rest.size() < valueSize ? rest.size() : valueSize;
  std::unique_ptr<char[]> value(new char[passed > 0 ? passed : 1]);
  if (passed > 0) std::memcpy(value.get(), rest.data(), passed);

  Control control;  // outlives the filter, which holds a reference to it
  fisheye::FishCorrectionVideoFilter filter;
  filter.addRef();
  if (frameChoice & 1) filter.start(host::ObjectRef<host::FilterControl>(&control));
  const int r = filter.setProperty(key.c_str(), value.get(), passed);
  if (r != 0 && r != -1) __builtin_trap();
  if (r != 0) return 0;
  if (!(frameChoice & 1)) filter.start(host::ObjectRef<host::FilterControl>(&control));

  Frame frame(1 + (frameChoice >> 1) % 23, 1 + (frameChoice >> 3) % 13);
  const std::vector<uint8_t> before = frame.y_;
  host::ObjectRef<host::HostVideoFrame> out;
  const int pr = filter.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);
  if (pr != 0 && pr != 1) __builtin_trap();
  if (out.get() != &frame) __builtin_trap();
  if (!filter.remap() && frame.y_ != before) __builtin_trap();
  return 0;
}
