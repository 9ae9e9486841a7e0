// The extensions as the host sees them: loaded through the host stand-in
// and called only through the stand-in's own slot declarations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/extension_interface.h"
#include "hoststub/oxrin_host.h"
#include "platform/platform.h"
#include "tests/common/child_process.h"

namespace {

using oxhost::Given;
using oxhost::Ref;
using oxhost::VideoFilter;
using oxhost::VideoFrame;

const std::string kLibDir = OXRIN_LIB_DIR;

struct ExtensionCase {
  const char* library;
  const char* provider;
  const char* filter;
  const char* controlLog;
};

const ExtensionCase kExtensions[] = {
    {"lenscorr_ext", "lecture_cam", "FishCorrectionVideoFilter",
     "lecture camera: sdk setExtensionControl for provider"},
    {"percept_ext", "oxrin_pvc", "pvc", "pvc: sdk setExtensionControl for provider"},
};

std::string LibraryPath(const char* library) {
  return kLibDir + "/" + platform::SharedLibraryFileName(library);
}

// Library path, and a check that the parent (or, without fork, the case
// before) left it unloaded so the case sees its load-time registration.
std::string FreshLibrary(const char* library) {
  const std::string path = LibraryPath(library);
  platform::LibHandle loaded = platform::LoadedLibrary(path.c_str());
  if (loaded != nullptr) {
    platform::CloseLibrary(loaded);
    return std::string();
  }
  oxhost::Host::instance().clear();
  return path;
}

#define CHILD_CHECK(cond)                                                   \
  do {                                                                      \
    if (!(cond)) {                                                          \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                   #cond);                                                  \
      return 1;                                                             \
    }                                                                       \
  } while (0)

class Registration : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(Registration, LoadingRegistersOneProviderWithVersionOneZeroZero) {
  const ExtensionCase c = GetParam();
  const int rc = testutil::RunInChild([&] {
    oxhost::Host& host = oxhost::Host::instance();
    const std::string path = FreshLibrary(c.library);
    CHILD_CHECK(!path.empty());
    testutil::ScopedLibrary lib(path, [&] { host.clear(); });
    CHILD_CHECK(lib.get() != nullptr);
    const auto versions = host.versionDeclarations();
    CHILD_CHECK(versions.size() == 1);
    CHILD_CHECK(versions[0].name == c.provider);
    CHILD_CHECK(versions[0].major == 1 && versions[0].minor == 0 && versions[0].patch == 0);
    Ref<oxhost::Provider> provider;
    {
      const auto regs = host.registrations();
      CHILD_CHECK(regs.size() == 1);
      CHILD_CHECK(regs[0].name == c.provider);
      provider = regs[0].provider;
    }
    // The host's registration and our copy are the only references.
    CHILD_CHECK(!provider->hasOneRef());
    host.clear();
    CHILD_CHECK(provider->hasOneRef());

    provider->setExtensionControl(nullptr);
    CHILD_CHECK(host.controlLogs().empty());
    provider->setExtensionControl(host.control());
    const auto logs = host.controlLogs();
    CHILD_CHECK(logs.size() == 1);
    CHILD_CHECK(logs[0].level == 1 && logs[0].text == c.controlLog);
    provider.reset();
    return 0;
  });
  EXPECT_EQ(rc, 0);
}

TEST_P(Registration, NullControlStillDeclaresTheVersionButRegistersNothing) {
  const ExtensionCase c = GetParam();
  const int rc = testutil::RunInChild([&] {
    oxhost::Host& host = oxhost::Host::instance();
    const std::string path = FreshLibrary(c.library);
    CHILD_CHECK(!path.empty());
    host.setAnswerNull(true);
    testutil::ScopedLibrary lib(path, [&] { host.clear(); });
    host.setAnswerNull(false);
    CHILD_CHECK(lib.get() != nullptr);
    const auto versions = host.versionDeclarations();
    CHILD_CHECK(versions.size() == 1);
    CHILD_CHECK(versions[0].name == c.provider);
    CHILD_CHECK(host.registrations().empty());
    return 0;
  });
  EXPECT_EQ(rc, 0);
}

TEST_P(Registration, ListExtensionsWritesExactlyOneDescriptor) {
  const ExtensionCase c = GetParam();
  const int rc = testutil::RunInChild([&] {
    oxhost::LoadedExtension ext;
    std::string error;
    CHILD_CHECK(oxhost::LoadExtension(LibraryPath(c.library), &ext, &error));
    oxhost::Descriptor d[2];
    std::memset(d, 0x5A, sizeof(d));
    int count = -1;
    ext.provider->listExtensions(d, &count);
    CHILD_CHECK(count == 1);
    CHILD_CHECK(d[0].kind == 1);
    CHILD_CHECK(std::string(d[0].name) == c.filter);
    const unsigned char* second = reinterpret_cast<const unsigned char*>(&d[1]);
    for (size_t i = 0; i < sizeof(d[1]); ++i) CHILD_CHECK(second[i] == 0x5A);
    // The factory slots and the notification give nothing.
    Ref<VideoFilter> out;
    ext.provider->slot6(out, c.filter);
    CHILD_CHECK(!out);
    ext.provider->slot8(out, c.filter);
    CHILD_CHECK(!out);
    ext.provider->slot9();
    oxhost::UnloadExtension(&ext);
    return 0;
  });
  EXPECT_EQ(rc, 0);
}

INSTANTIATE_TEST_SUITE_P(BothExtensions, Registration, ::testing::ValuesIn(kExtensions),
                         [](const auto& info) { return std::string(info.param.provider); });

TEST(PerceptExport, VersionIsTheQuotedReleaseText) {
  const int rc = testutil::RunInChild([&] {
    testutil::ScopedLibrary lib(LibraryPath("percept_ext"), [] { oxhost::Host::instance().clear(); });
    CHILD_CHECK(lib.get() != nullptr);
    using VersionFn = std::string (*)();
    auto fn = reinterpret_cast<VersionFn>(platform::FindSymbol(lib.get(), "version"));
    CHILD_CHECK(fn != nullptr);
    const std::string v = fn();
    CHILD_CHECK(v == "\"matting_release_2.0.16\"");
    CHILD_CHECK(v.size() == 24);
    return 0;
  });
  EXPECT_EQ(rc, 0);
}

// The fisheye extension, loaded once for the suite.
class FisheyeThroughHost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(oxhost::LoadExtension(LibraryPath("lenscorr_ext"), &ext_, &error)) << error;
  }
  static void TearDownTestSuite() { oxhost::UnloadExtension(&ext_); }

  Ref<VideoFilter> create(const char* name) {
    Ref<VideoFilter> f;
    ext_.provider->createVideoFilter(f, name);
    return f;
  }
  static oxhost::LoadedExtension ext_;
};
oxhost::LoadedExtension FisheyeThroughHost::ext_;

TEST_F(FisheyeThroughHost, CreateVideoFilterNeedsTheExactName) {
  const struct {
    const char* name;
    bool created;
  } cases[] = {
      {"FishCorrectionVideoFilter", true},  {"fishcorrectionvideofilter", false},
      {"FISHCORRECTIONVIDEOFILTER", false}, {"FishCorrectionVideoFilter ", false},
      {" FishCorrectionVideoFilter", false}, {"FishCorrectionVideoFilte", false},
      {"", false},                           {"pvc", false},
  };
  for (const auto& c : cases) {
    Ref<VideoFilter> f = create(c.name);
    EXPECT_EQ(static_cast<bool>(f), c.created) << '"' << c.name << '"';
    if (f) {
      EXPECT_TRUE(f->hasOneRef());
    }
  }
}

TEST_F(FisheyeThroughHost, FixedSlotAnswers) {
  Ref<VideoFilter> f = create("FishCorrectionVideoFilter");
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->slot4());
  EXPECT_FALSE(f->isEnabled());
  EXPECT_EQ(f->slot8(), 0);
  EXPECT_TRUE(f->slot9());
  f->slot10();
  EXPECT_TRUE(f->slot11());
  EXPECT_TRUE(f->slot12());
  int v = -7;
  bool flag = true;
  f->slot13(&v, &flag);
  EXPECT_EQ(v, 0);
  EXPECT_FALSE(flag);
  int a = -7, b = -7;
  f->slot16(&a, &b);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  EXPECT_FALSE(f->slot19());
  f->setEnabled(true);
  EXPECT_TRUE(f->isEnabled());
  f->setEnabled(false);
  EXPECT_FALSE(f->isEnabled());
}

TEST_F(FisheyeThroughHost, FrameReferencesAreReleasedOnEveryPath) {
  Ref<VideoFilter> f = create("FishCorrectionVideoFilter");
  ASSERT_TRUE(f);
  Ref<VideoFrame> frame = VideoFrame::Create(64, 48);
  Ref<VideoFrame> other = VideoFrame::Create(8, 8);

  // Empty input: result 2, output left as it was.
  Ref<VideoFrame> out = other;
  EXPECT_EQ(f->processFrame(Given<VideoFrame>(nullptr), out), 2);
  EXPECT_EQ(out.get(), other.get());
  EXPECT_EQ(other->refCount(), 2);
  out.reset();

  // Disabled: result 1, output holds the input, nothing kept by the filter.
  EXPECT_EQ(f->processFrame(Given<VideoFrame>(frame.get()), out), 1);
  EXPECT_EQ(out.get(), frame.get());
  EXPECT_EQ(frame->refCount(), 2);
  out.reset();
  EXPECT_EQ(frame->refCount(), 1);

  // Enabled before start (no corrector) and after start.
  const char* on = "{\"enable\":1}";
  ASSERT_EQ(f->setProperty("fishCorrection", on, std::strlen(on)), 0);
  out = other;  // replaced by the input; `other` loses that reference
  EXPECT_EQ(f->processFrame(Given<VideoFrame>(frame.get()), out), 0);
  EXPECT_EQ(out.get(), frame.get());
  EXPECT_EQ(other->refCount(), 1);
  out.reset();
  EXPECT_EQ(frame->refCount(), 1);

  Ref<oxhost::FilterControl> control = oxhost::FilterControl::Create();
  EXPECT_EQ(f->start(Given<oxhost::FilterControl>(control.get())), 0);
  EXPECT_EQ(control->refCount(), 2);  // ours and the filter's
  const int calls_before = frame->getFrameDataCalls();
  EXPECT_EQ(f->processFrame(Given<VideoFrame>(frame.get()), out), 0);
  EXPECT_EQ(frame->getFrameDataCalls(), calls_before + 2);  // filter and corrector
  out.reset();
  EXPECT_EQ(frame->refCount(), 1);

  // dropFrame releases what it is given.
  EXPECT_EQ(f->dropFrame(Given<VideoFrame>(frame.get())), 1);
  EXPECT_EQ(frame->refCount(), 1);

  EXPECT_EQ(f->stop(), 0);
  f.reset();  // destroying the filter drops its control reference
  EXPECT_EQ(control->refCount(), 1);
}

TEST_F(FisheyeThroughHost, StartPostsOneLogEventEachTime) {
  Ref<VideoFilter> f = create("FishCorrectionVideoFilter");
  Ref<oxhost::FilterControl> first = oxhost::FilterControl::Create();
  Ref<oxhost::FilterControl> second = oxhost::FilterControl::Create();
  f->start(Given<oxhost::FilterControl>(first.get()));
  f->start(Given<oxhost::FilterControl>(second.get()));
  EXPECT_EQ(first->refCount(), 1);
  EXPECT_EQ(second->refCount(), 2);
  f->start(Given<oxhost::FilterControl>(nullptr));  // empty control: nothing posted
  ASSERT_EQ(first->events().size(), 1u);
  EXPECT_EQ(first->events()[0].key, "log");
  EXPECT_EQ(first->events()[0].value, "FishCorrection: FishCorrectionVideoFilter start");
  EXPECT_EQ(second->events().size(), 1u);
  // Each start replaces the control the filter holds, an empty one too.
  EXPECT_EQ(first->refCount(), 1);
  EXPECT_EQ(second->refCount(), 1);
  EXPECT_TRUE(first->logs().empty());
}

TEST_F(FisheyeThroughHost, PixelsNeverChange) {
  Ref<VideoFilter> f = create("FishCorrectionVideoFilter");
  const char* on = "{\"enable\":1,\"ss0\":3,\"x_center\":0.2}";
  ASSERT_EQ(f->setProperty("fishCorrection", on, std::strlen(on)), 0);
  f->start(Given<oxhost::FilterControl>(oxhost::FilterControl::Create().get()));
  Ref<VideoFrame> frame = VideoFrame::Create(33, 17);
  for (size_t i = 0; i < frame->size(); ++i) frame->data()[i] = static_cast<uint8_t>(i * 7);
  const std::vector<uint8_t> before(frame->data(), frame->data() + frame->size());
  Ref<VideoFrame> out;
  ASSERT_EQ(f->processFrame(Given<VideoFrame>(frame.get()), out), 0);
  ASSERT_EQ(out.get(), frame.get());
  EXPECT_EQ(std::vector<uint8_t>(frame->data(), frame->data() + frame->size()), before);
}

TEST(StandIn, FrameRecordFieldsSitAtTheInterfaceOffsets) {
  Ref<VideoFrame> frame = VideoFrame::Create(37, 21);
  host::FrameDataRecord record;
  std::memset(&record, 0xCD, sizeof(record));
  frame->getFrameData(reinterpret_cast<oxhost::FrameRecord*>(&record));
  EXPECT_EQ(record.luma, frame->luma());
  EXPECT_EQ(record.width, 37);
  EXPECT_EQ(record.height, 21);
  // The host zeroes what it does not fill.
  EXPECT_EQ(record.preset108, 0);
  EXPECT_EQ(record.preset120, 0);
  EXPECT_EQ(frame->chromaWidth(), 19);
  EXPECT_EQ(frame->chromaHeight(), 11);
  EXPECT_EQ(frame->size(), 37u * 21u + 2u * 19u * 11u);
}

}  // namespace
