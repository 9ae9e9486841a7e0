// The "pvc" filter as a host drives it: libpercept_ext.so loaded through
// the host stand-in, on this machine's device presented as a GPU, with the
// host's log as the record of what happened.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "child_case.h"
#include "hoststub/oxrin_host.h"

TEST(OpenclChildCase, Entry) { testutil::RunChildCaseFromEnvironment(); }

namespace {

using oxhost::Given;
using oxhost::Ref;

// Loads the persona as the process's OpenCL library, then the extension,
// and creates its filter with support forced on.
struct Session {
  oxhost::LoadedExtension ext;
  Ref<oxhost::VideoFilter> filter;
  Ref<oxhost::FilterControl> control = oxhost::FilterControl::Create();

  bool open() {
    setenv("OXRIN_CL_PERSONA", "nvidia", 1);
    if (dlopen(OXRIN_PERSONA_LIBRARY, RTLD_NOW | RTLD_GLOBAL) == nullptr) return false;
    std::string error;
    if (!oxhost::LoadExtension(OXRIN_LIB_DIR "/libpercept_ext.so", &ext, &error)) return false;
    ext.provider->createVideoFilter(filter, "pvc");
    const char* value = "{\"DevicesId\":\"NVIDIA GeForce RTX 2070\"}";
    return filter && filter->setProperty("pvc_parameter", value, std::strlen(value) + 1) == 0;
  }

  // Feeds one frame; prints its result and the level-4 lines it caused.
  void frame(int w, int h) {
    const size_t before = control->logs().size();
    Ref<oxhost::VideoFrame> f = oxhost::VideoFrame::Create(w, h);
    for (size_t i = 0; i < f->size(); ++i) f->data()[i] = static_cast<uint8_t>(i * 7 + i / 13);
    const std::vector<uint8_t> in(f->luma(), f->luma() + static_cast<size_t>(w) * h);
    Ref<oxhost::VideoFrame> out;
    const int r = filter->processFrame(Given<oxhost::VideoFrame>(f.get()), out);
    const bool changed = std::memcmp(in.data(), f->luma(), in.size()) != 0;
    std::printf("%d%s", r, changed ? " filtered" : "");
    const auto logs = control->logs();
    for (size_t i = before; i < logs.size(); ++i)
      if (logs[i].level == 4) std::printf(" | %s", logs[i].text.c_str());
    std::printf("\n");
    if (out && out.get() != f.get()) std::printf("output is not the input frame\n");
  }
};

OX_CHILD_CASE(PvcHostSequence) {
  Session s;
  if (!s.open()) return 1;
  std::fflush(stdout);
  s.filter->start(Given<oxhost::FilterControl>(s.control.get()));
  std::printf("start\n");
  for (int i = 0; i < 4; ++i) s.frame(64, 48);
  s.frame(48, 64);  // new geometry
  s.frame(48, 64);
  s.filter->setProperty("pvc_parameter", "{\"pvc_one_model\":5}", 21);
  s.frame(48, 64);
  s.frame(48, 64);
  s.filter->setProperty("pvc_parameter", "{\"pvc_one_model\":0}", 21);
  s.filter->stop();
  std::printf("stop\n");
  s.frame(48, 64);
  s.frame(48, 64);
  s.filter->start(Given<oxhost::FilterControl>(s.control.get()));
  std::printf("start\n");
  for (int i = 0; i < 3; ++i) s.frame(48, 64);
  s.frame(1920, 1080);
  return 0;
}

TEST(PvcThroughHost, StatusSequenceAndLogTexts) {
  const testutil::ChildRun run = testutil::RunChildCase("PvcHostSequence");
  ASSERT_EQ(run.status, 0) << run.output;
  // Only our own lines (the library's OpenCL progress lines are interleaved).
  std::string ours;
  size_t pos = 0;
  while (pos < run.output.size()) {
    const size_t end = run.output.find('\n', pos);
    const std::string line = run.output.substr(pos, end - pos);
    if (line == "start" || line == "stop" || (!line.empty() && (line[0] == '0' || line[0] == '1')))
      ours += line + "\n";
    pos = end == std::string::npos ? run.output.size() : end + 1;
  }
  EXPECT_EQ(ours,
            "start\n"
            "1 | init PVC with async worker.\n"
            "1 | PVC params changed, do warm up.\n"
            "0 filtered\n"
            "0 filtered\n"
            "1 | PVC params changed, do warm up.\n"
            "0 filtered\n"
            "1 | pvc: PVC input modelId ranges from 0 to 4.\n"
            "1 | pvc: PVC input modelId ranges from 0 to 4.\n"
            "stop\n"
            "1 | PVC filter process error.\n"
            "1 | PVC filter process error.\n"
            "start\n"
            "1 | init PVC with async worker.\n"
            "1 | PVC params changed, do warm up.\n"
            "0 filtered\n"
            "1\n")
      << run.output;
}

}  // namespace
