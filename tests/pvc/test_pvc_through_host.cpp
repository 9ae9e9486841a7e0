// The "pvc" filter as a host drives it: libpercept_ext.so loaded through
// the host stand-in, on this machine's device presented as a GPU or on the
// CPU backend with no OpenCL library in the process, with the host's log as
// the record of what happened.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "child_case.h"
#include "hoststub/oxrin_host.h"
#include "jnd/jnd_filter_cpu.h"

TEST(OpenclChildCase, Entry) { testutil::RunChildCaseFromEnvironment(); }

namespace {

using oxhost::Given;
using oxhost::Ref;

// Child environment of the backend cases: the persona ("" for none) and
// the pvc_parameter value.
constexpr char kPersonaEnv[] = "OXRIN_TEST_PVC_PERSONA";
constexpr char kParameterEnv[] = "OXRIN_TEST_PVC_PARAMETER";

// Loads the persona (when one is named) as the process's OpenCL library,
// then the extension, and creates its filter with `parameter` set.
struct Session {
  oxhost::LoadedExtension ext;
  Ref<oxhost::VideoFilter> filter;
  Ref<oxhost::FilterControl> control = oxhost::FilterControl::Create();

  bool open(const char* persona = "nvidia",
            const char* parameter = "{\"DevicesId\":\"NVIDIA GeForce RTX 2070\"}") {
    if (persona[0] != '\0') {
      setenv("OXRIN_CL_PERSONA", persona, 1);
      if (dlopen(OXRIN_PERSONA_LIBRARY, RTLD_NOW | RTLD_GLOBAL) == nullptr) return false;
    }
    std::string error;
    if (!oxhost::LoadExtension(OXRIN_LIB_DIR "/libpercept_ext.so", &ext, &error)) return false;
    ext.provider->createVideoFilter(filter, "pvc");
    return filter && filter->setProperty("pvc_parameter", parameter, std::strlen(parameter) + 1) == 0;
  }

  // Feeds one frame; prints its result and the level-4 lines it caused.
  void frame(int w, int h) {
    const size_t before = control->logs().size();
    Ref<oxhost::VideoFrame> f = oxhost::VideoFrame::Create(w, h);
    for (size_t i = 0; i < f->size(); ++i) f->data()[i] = static_cast<uint8_t>(i * 7 + i / 13);
    const size_t luma = static_cast<size_t>(w) * h;
    const std::vector<uint8_t> in(f->data(), f->data() + f->size());
    Ref<oxhost::VideoFrame> out;
    const int r = filter->processFrame(Given<oxhost::VideoFrame>(f.get()), out);
    const bool changed = std::memcmp(in.data(), f->data(), luma) != 0;
    const bool chroma = std::memcmp(in.data() + luma, f->data() + luma, in.size() - luma) != 0;
    std::printf("%d%s%s", r, changed ? " filtered" : "", chroma ? " chroma changed" : "");
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

// One start with the backend the environment asks for: new geometry, new
// model, stop; then whether an OpenCL library was ever loaded.
OX_CHILD_CASE(PvcHostBackend) {
  Session s;
  if (!s.open(std::getenv(kPersonaEnv), std::getenv(kParameterEnv))) return 1;
  s.filter->start(Given<oxhost::FilterControl>(s.control.get()));
  std::printf("start\n");
  for (int i = 0; i < 3; ++i) s.frame(64, 48);
  for (int i = 0; i < 2; ++i) s.frame(48, 64);
  s.filter->setProperty("pvc_parameter", "{\"pvc_one_model\":1}", 21);
  for (int i = 0; i < 2; ++i) s.frame(48, 64);
  s.filter->stop();
  std::printf("stop\n");
  s.frame(48, 64);
  const bool loaded = dlopen("libOpenCL.so.1", RTLD_NOW | RTLD_NOLOAD) != nullptr;
  std::printf("OpenCL library loaded: %s\n", loaded ? "yes" : "no");
  return 0;
}

// Only our own lines (the library's OpenCL progress lines are interleaved).
std::string OwnLines(const std::string& output) {
  std::string ours;
  size_t pos = 0;
  while (pos < output.size()) {
    const size_t end = output.find('\n', pos);
    const std::string line = output.substr(pos, end - pos);
    if (line == "start" || line == "stop" || line.rfind("OpenCL library", 0) == 0 ||
        (!line.empty() && (line[0] == '0' || line[0] == '1')))
      ours += line + "\n";
    pos = end == std::string::npos ? output.size() : end + 1;
  }
  return ours;
}

// What each start prints: every frame passed (no frame reaches a filter
// that may not run), or filtered after set-up and a warm-up per geometry and
// model.  "{first}": the first frame's line; "{loaded}": yes or no.
constexpr char kPassedRun[] = "start\n1\n1\n1\n1\n1\n1\n1\nstop\n1\nOpenCL library loaded: {loaded}\n";
constexpr char kFilteredRun[] =
    "start\n"
    "{first}\n"
    "1 | PVC params changed, do warm up.\n"
    "0 filtered\n"
    "1 | PVC params changed, do warm up.\n"
    "0 filtered\n"
    "1 | PVC params changed, do warm up.\n"
    "0 filtered\n"
    "stop\n"
    "1 | PVC filter process error.\n"
    "OpenCL library loaded: {loaded}\n";

std::string Fill(std::string text, const std::string& key, const std::string& value) {
  const size_t at = text.find(key);
  if (at != std::string::npos) text.replace(at, key.size(), value);
  return text;
}

struct BackendRow {
  const char* persona;
  const char* parameter;
  const char* first;  // null: every frame passed; "{path}": the fastest CPU path
  const char* loaded;
};

class PvcBackendThroughHost : public ::testing::TestWithParam<BackendRow> {};

TEST_P(PvcBackendThroughHost, StatusSequenceAndLogTexts) {
  const BackendRow& row = GetParam();
  std::vector<std::pair<std::string, std::string>> env = {{kPersonaEnv, row.persona},
                                                          {kParameterEnv, row.parameter}};
  // Without a persona, an OpenCL library loaded after all would find no
  // platform either.
  if (row.persona[0] == '\0') env.emplace_back("OCL_ICD_VENDORS", "/nonexistent");
  const testutil::ChildRun run = testutil::RunChildCase("PvcHostBackend", env);
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string first = Fill(row.first ? row.first : "", "{path}", jnd::JndCpuBestPath().name);
  const std::string expected =
      Fill(Fill(row.first ? kFilteredRun : kPassedRun, "{first}", first), "{loaded}", row.loaded);
  EXPECT_EQ(OwnLines(run.output), expected) << row.parameter << "\n" << run.output;
}

constexpr char kCpuInit[] = "1 | init PVC with async worker. | pvc: JND on the CPU, path {path}, 1 thread";

INSTANTIATE_TEST_SUITE_P(
    Rows, PvcBackendThroughHost,
    ::testing::Values(
        // Default: OpenCL only where the GPU is allowed; here none is.
        BackendRow{"", "{}", nullptr, "no"},
        BackendRow{"", R"({"Backend":"cpu"})", kCpuInit, "no"},
        BackendRow{"", R"({"Backend":"auto"})", kCpuInit, "no"},
        BackendRow{"", R"({"Backend":"cpu","CpuThreads":2})",
                   "1 | init PVC with async worker. | pvc: JND on the CPU, path {path}, 2 threads", "no"},
        BackendRow{"nvidia", R"({"DevicesId":"NVIDIA GeForce RTX 2070","Backend":"cpu"})", kCpuInit,
                   "yes"},
        // The GPU the table allows: auto takes OpenCL.
        BackendRow{"nvidia", R"({"DevicesId":"NVIDIA GeForce RTX 2070","Backend":"auto"})",
                   "1 | init PVC with async worker.", "yes"}));

TEST(PvcThroughHost, StatusSequenceAndLogTexts) {
  const testutil::ChildRun run = testutil::RunChildCase("PvcHostSequence");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(OwnLines(run.output),
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
