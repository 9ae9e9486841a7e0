// Device faults injected through the persona: the Nth call of one OpenCL
// entry point fails with a chosen status while the perceptual filter runs
// frames.  For every fault the filter must log the matching message, hand
// each frame on either fully filtered or exactly as it came in, leave no
// OpenCL object behind once it is stopped, and recover on the next frame or
// the next start.  Runs on this machine's device shown as a GPU; without
// the persona every case is skipped.
//
// Allocation failures at the host boundary: an operator new armed to throw
// makes each entry point the host calls meet std::bad_alloc, which must be
// answered with the entry point's failure code instead of crossing into
// the host.  These need no device.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "fisheye/fish_provider.h"
#include "jnd/jnd_filter.h"
#include "jnd/jnd_weights.h"
#include "jnd_test_env.h"
#include "opencl/cl_memory.h"
#include "pvc/pvc_provider.h"
#include "pvc/pvc_video_filter.h"
#include "pvc_fakes.h"
#include "tools/persona/persona_api.h"

// When positive on a thread: that thread's allocation number n from now
// throws std::bad_alloc (1: the next one).  Other threads are unaffected.
static thread_local long t_allocations_until_failure = 0;

// Not inlined, like the deletes below, so the compiler pairs every delete
// with operator new rather than with the malloc and free inside.
[[gnu::noinline]] void* operator new(size_t n) {
  if (t_allocations_until_failure > 0 && --t_allocations_until_failure == 0) throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

constexpr int kW = 80, kH = 44;
constexpr char kInit[] = "init PVC with async worker.";
constexpr char kWarmUp[] = "PVC params changed, do warm up.";
constexpr char kLibraryError[] = "pvc: PVC library error, skip.";
constexpr char kProcessError[] = "PVC filter process error.";

struct Persona {
  persona_fail_fn fail = nullptr;
  persona_counter_fn live = nullptr;
  bool Load() {
    const char* path = std::getenv("OXRIN_TEST_CL_LIBRARY");
    void* lib = path ? dlopen(path, RTLD_NOW | RTLD_NOLOAD) : nullptr;
    if (lib == nullptr) return false;
    fail = reinterpret_cast<persona_fail_fn>(dlsym(lib, "persona_fail_call"));
    live = reinterpret_cast<persona_counter_fn>(dlsym(lib, "persona_live_objects"));
    return fail != nullptr && live != nullptr;
  }
};

std::vector<uint8_t> Texture(int seed) {
  std::vector<uint8_t> p(static_cast<size_t>(kW) * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      p[static_cast<size_t>(y) * kW + x] = static_cast<uint8_t>((x * 11 + y * 5 + seed * 37 + (x * y >> 3)) & 0xFF);
  return p;
}

// The texture of `seed` filtered with weight set `set` by a filter of its
// own, computed before any fault is armed.
const std::vector<uint8_t>& Filtered(int seed, int set) {
  static std::map<std::pair<int, int>, std::vector<uint8_t>> cache;
  static std::unique_ptr<jnd::JndFilterCL> filter;
  auto it = cache.find({seed, set});
  if (it != cache.end()) return it->second;
  testutil::CaptureStdout quiet;
  if (!filter) {
    filter.reset(new jnd::JndFilterCL());
    filter->initialise(jnd::WeightsOf(jnd::kJndWeightSet2), "", 0, 0, {}, true);
  }
  filter->update_net_paras(jnd::WeightsOf(*jnd::ShippedWeightSet(set)));
  std::vector<uint8_t> out = Texture(seed);
  filter->process(out.data(), out.data(), kW, kH, kW, true);
  return cache[{seed, set}] = out;
}

// Drives one filter frame by frame and checks every frame it hands on.
class Driver {
 public:
  Driver() {
    filter_.addRef();
    filter_.setProperty("pvc_parameter", R"({"PvcSupport":true})", 20);
  }
  ~Driver() { filter_.stop(); }
  void Start() { filter_.start(host::ObjectRef<host::FilterControl>(&control_)); }
  void Stop() { filter_.stop(); }
  void Model(int m) {
    const std::string v = "{\"pvc_one_model\":" + std::to_string(m) + "}";
    filter_.setProperty("pvc_parameter", v.c_str(), v.size() + 1);
    model_ = m;
  }
  // Runs one frame; returns its level-4 line, or "" when it was filtered.
  std::string Frame(int seed) {
    testutil::PlaneFrame frame(kW, kH);
    frame.plane() = Texture(seed);
    control_.clear();
    host::ObjectRef<host::HostVideoFrame> out;
    int result;
    {
      testutil::CaptureStdout quiet;
      result = filter_.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);
    }
    const std::vector<uint8_t>& filtered = Filtered(seed, model_);
    if (result == 0) {
      EXPECT_EQ(out.get(), &frame);
      EXPECT_TRUE(frame.plane() == filtered) << "frame " << seed << " reported filtered but is not";
    } else {
      EXPECT_EQ(out.get(), nullptr);
      EXPECT_TRUE(frame.plane() == Texture(seed) || frame.plane() == filtered)
          << "frame " << seed << " went out half-written";
    }
    out.reset();
    EXPECT_EQ(frame.refs.load(), 0) << "frame reference kept";
    std::string level4;
    for (const std::string& line : control_.lines())
      if (line.rfind("4 ", 0) == 0) level4 = line.substr(2);
    EXPECT_EQ(result == 0, level4.empty()) << level4;
    return level4;
  }
  pvc::PVCVideoFilter& filter() { return filter_; }

 private:
  testutil::RecordingControl control_;
  pvc::PVCVideoFilter filter_;
  int model_ = 3;
};

// Where the armed call falls, and what the filter answers.
enum class Phase {
  kInit,      // armed before the first frame: set-up of the pipeline
  kWarmUp,    // armed before the second frame: device memory for the geometry
  kFrame,     // armed before the first filtered frame
  kNewModel,  // armed before the first frame of a new model: weight upload
};
enum class Outcome {
  kLibraryError,  // set-up fails: library error until the next start
  kOneFrameLost,  // this frame (or the warm-up) fails, the next one is filtered
                  // (a fault in set-up that does not fail it: the warm-up)
  kNotOnPath,     // the filter never calls this entry point here
};

struct FaultCase {
  const char* name;
  const char* entry;
  long nth;
  cl_int status;
  Phase phase;
  Outcome outcome;
  int model = 3;  // pvc_one_model of the run
};

std::ostream& operator<<(std::ostream& os, const FaultCase& c) { return os << c.name; }

const FaultCase kCases[] = {
    // Set-up of the pipeline on the first frame.
    {"ContextCreation", "clCreateContext", 1, CL_OUT_OF_HOST_MEMORY, Phase::kInit, Outcome::kLibraryError},
    {"QueueCreation", "clCreateCommandQueue", 1, CL_OUT_OF_RESOURCES, Phase::kInit, Outcome::kLibraryError},
    {"ProgramBuild", "clBuildProgram", 1, CL_BUILD_PROGRAM_FAILURE, Phase::kInit, Outcome::kLibraryError},
    {"KernelsOfProgram", "clCreateKernelsInProgram", 2, CL_OUT_OF_RESOURCES, Phase::kInit, Outcome::kLibraryError},
    {"SingleKernel", "clCreateKernel", 1, CL_INVALID_KERNEL_NAME, Phase::kInit, Outcome::kNotOnPath},
    // Set 2 is the one uploaded at set-up, so no model change redoes it.
    {"FirstWeightBuffer", "clCreateBuffer", 1, CL_MEM_OBJECT_ALLOCATION_FAILURE, Phase::kInit, Outcome::kOneFrameLost, 2},
    {"LastWeightBuffer", "clCreateBuffer", 3, CL_OUT_OF_RESOURCES, Phase::kInit, Outcome::kOneFrameLost, 2},
    // Device memory for the geometry, on the warm-up frame.
    {"InputBuffer", "clCreateBuffer", 1, CL_MEM_OBJECT_ALLOCATION_FAILURE, Phase::kWarmUp, Outcome::kOneFrameLost},
    {"OutputBuffer", "clCreateBuffer", 2, CL_OUT_OF_RESOURCES, Phase::kWarmUp, Outcome::kOneFrameLost},
    {"FirstIntermediateImage", "clCreateImage", 1, CL_MEM_OBJECT_ALLOCATION_FAILURE, Phase::kWarmUp, Outcome::kOneFrameLost},
    {"SecondIntermediateImage", "clCreateImage", 2, CL_OUT_OF_RESOURCES, Phase::kWarmUp, Outcome::kOneFrameLost},
    {"WarmUpLaunch", "clEnqueueNDRangeKernel", 2, CL_OUT_OF_RESOURCES, Phase::kWarmUp, Outcome::kOneFrameLost},
    // A frame in flight.
    {"Upload", "clEnqueueWriteBuffer", 1, CL_OUT_OF_RESOURCES, Phase::kFrame, Outcome::kOneFrameLost},
    {"FirstLaunch", "clEnqueueNDRangeKernel", 1, CL_OUT_OF_RESOURCES, Phase::kFrame, Outcome::kOneFrameLost},
    {"LastLaunch", "clEnqueueNDRangeKernel", 3, CL_INVALID_KERNEL_ARGS, Phase::kFrame, Outcome::kOneFrameLost},
    {"Wait", "clFinish", 1, CL_OUT_OF_RESOURCES, Phase::kFrame, Outcome::kOneFrameLost},
    {"ReadBackMap", "clEnqueueMapBuffer", 1, CL_MAP_FAILURE, Phase::kFrame, Outcome::kOneFrameLost},
    {"ReadBackUnmap", "clEnqueueUnmapMemObject", 1, CL_OUT_OF_RESOURCES, Phase::kFrame, Outcome::kOneFrameLost},
    {"ReadBuffer", "clEnqueueReadBuffer", 1, CL_OUT_OF_RESOURCES, Phase::kFrame, Outcome::kNotOnPath},
    {"ReadImage", "clEnqueueReadImage", 1, CL_OUT_OF_RESOURCES, Phase::kFrame, Outcome::kNotOnPath},
    // The weight upload of a new model.
    {"WeightUploadMap", "clEnqueueMapBuffer", 1, CL_MAP_FAILURE, Phase::kNewModel, Outcome::kOneFrameLost},
    {"WeightUploadSecondLayer", "clEnqueueMapBuffer", 2, CL_OUT_OF_RESOURCES, Phase::kNewModel, Outcome::kOneFrameLost},
};

class PersonaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::SelectOpenClLibrary();
    if (testutil::PersonaName() == nullptr || !persona_.Load())
      GTEST_SKIP() << "needs the device persona (OXRIN_TEST_CL_LIBRARY, OXRIN_CL_PERSONA)";
    Filtered(1, 3);
    Filtered(2, 3);
    Filtered(3, 3);
    Filtered(4, 1);
    Filtered(5, 1);
    Filtered(1, 2);
    Filtered(2, 2);
    Filtered(3, 2);
  }
  void TearDown() override {
    if (persona_.fail) persona_.fail(nullptr, 0, 0);
  }
  Persona persona_;
};

class DeviceFault : public PersonaTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DeviceFault, LoggedContainedAndRecovered) {
  const FaultCase& c = GetParam();
  const long liveBefore = persona_.live();
  {
    Driver d;
    d.Model(c.model);
    d.Start();
    auto arm = [&] { persona_.fail(c.entry, c.nth, c.status); };
    switch (c.phase) {
      case Phase::kInit:
        arm();
        EXPECT_EQ(d.Frame(1), kInit);
        persona_.fail(nullptr, 0, 0);
        if (c.outcome == Outcome::kLibraryError) {
          EXPECT_EQ(d.Frame(2), kLibraryError);
          EXPECT_EQ(d.Frame(3), kLibraryError);
          d.Stop();
          EXPECT_EQ(persona_.live(), liveBefore) << "objects left after stop";
          d.Start();  // the next start recovers
          EXPECT_EQ(d.Frame(1), kInit);
        }
        EXPECT_EQ(d.Frame(2), kWarmUp);
        EXPECT_EQ(d.Frame(3), "");
        break;
      case Phase::kWarmUp: {
        EXPECT_EQ(d.Frame(1), kInit);
        arm();
        EXPECT_EQ(d.Frame(2), kWarmUp);
        persona_.fail(nullptr, 0, 0);
        EXPECT_EQ(d.Frame(3), "");
        // A failed set-up of device memory is redone by the next frame; a
        // failed launch keeps the memory it had.
        const bool creation = std::string(c.entry).rfind("clCreate", 0) == 0;
        EXPECT_EQ(d.filter().worker()->context()->openclFilter()->geometrySetups(), creation ? 2 : 1);
        break;
      }
      case Phase::kFrame:
        EXPECT_EQ(d.Frame(1), kInit);
        EXPECT_EQ(d.Frame(2), kWarmUp);
        arm();
        EXPECT_EQ(d.Frame(3), c.outcome == Outcome::kNotOnPath ? "" : kProcessError);
        persona_.fail(nullptr, 0, 0);
        EXPECT_EQ(d.Frame(2), "");
        break;
      case Phase::kNewModel:
        EXPECT_EQ(d.Frame(1), kInit);
        EXPECT_EQ(d.Frame(2), kWarmUp);
        EXPECT_EQ(d.Frame(3), "");
        d.Model(1);
        arm();
        EXPECT_EQ(d.Frame(4), kWarmUp);
        persona_.fail(nullptr, 0, 0);
        // The next frame is filtered with the whole new weight set.
        EXPECT_EQ(d.Frame(5), "");
        EXPECT_EQ(d.Frame(4), "");
        break;
    }
    d.Stop();
    EXPECT_EQ(persona_.live(), liveBefore) << "objects left after stop";
    d.Start();
    EXPECT_EQ(persona_.live(), liveBefore);
  }
  EXPECT_EQ(persona_.live(), liveBefore) << "objects left after the filter is gone";
}

INSTANTIATE_TEST_SUITE_P(Entries, DeviceFault, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.name); });

// Transfers the filter does not use on its frame path, checked on the
// memory object itself: a failed read leaves the destination untouched.
class TransferFault : public PersonaTest {};

TEST_F(TransferFault, FailedReadsLeaveTheDestinationAlone) {
  opencl::clEngine engine;
  {
    testutil::CaptureStdout quiet;
    ASSERT_TRUE(engine.Init(0, false, false));
  }
  const long liveBefore = persona_.live();
  std::vector<uint8_t> src = Texture(6);
  {
    opencl::ClMemory buffer(&engine), image(&engine);
    testutil::CaptureStdout quiet;
    ASSERT_TRUE(buffer.CreateBuffer(src.size(), CL_MEM_READ_WRITE));
    ASSERT_TRUE(buffer.Write(src.data(), src.size(), false, true));
    ASSERT_TRUE(image.CreateImage(kW / 4, kH, CL_UNORM_INT8, CL_RGBA, CL_MEM_READ_WRITE));
    ASSERT_TRUE(image.WriteImage(src.data(), CL_UNORM_INT8, kW, false, true));
    const struct {
      const char* entry;
      bool image, map;
    } rows[] = {{"clEnqueueReadBuffer", false, false}, {"clEnqueueMapBuffer", false, true},
                {"clEnqueueReadImage", true, false}, {"clEnqueueMapImage", true, true}};
    for (const auto& r : rows) {
      std::vector<uint8_t> dst(src.size(), 0xA5);
      persona_.fail(r.entry, 1, CL_OUT_OF_RESOURCES);
      const bool ok = r.image ? image.ReadImage(dst.data(), r.map, true)
                              : buffer.Read(dst.data(), dst.size(), r.map, true);
      persona_.fail(nullptr, 0, 0);
      EXPECT_FALSE(ok) << r.entry;
      EXPECT_EQ(dst, std::vector<uint8_t>(src.size(), 0xA5)) << r.entry;
      ASSERT_TRUE(r.image ? image.ReadImage(dst.data(), r.map, true)
                          : buffer.Read(dst.data(), dst.size(), r.map, true))
          << r.entry << " after the fault";
      EXPECT_EQ(dst, src) << r.entry;
    }
  }
  EXPECT_EQ(persona_.live(), liveBefore);
}

// ---- Allocation failures at the host boundary ------------------------------

// Runs one host call with this thread's next allocation failing; an
// exception that escapes is a failure of the row.
int WithFailingAllocation(const char* label, const std::function<int()>& call) {
  t_allocations_until_failure = 1;
  int result = -99;
  try {
    result = call();
  } catch (...) {
    ADD_FAILURE() << label << ": an exception crossed the host boundary";
  }
  t_allocations_until_failure = 0;
  return result;
}

TEST(HostBoundary, AllocationFailuresAnswerFailureCodes) {
  testutil::RecordingControl control;  // outlives every filter below
  const char* const kPvcValue = R"({"DevicesId":"a GPU name longer than a short string"})";
  const char* const kFishValue = R"({"enable":1,"remap":1})";
  const struct {
    const char* label;
    std::function<int()> call;  // the host call under the failing allocation
    int result;
  } rows[] = {
      {"pvc setProperty", [&] {
         pvc::PVCVideoFilter f;
         return WithFailingAllocation("pvc setProperty", [&] {
           return f.setProperty("pvc_parameter", kPvcValue, std::strlen(kPvcValue) + 1);
         });
       }, -1},
      // A failed start leaves the filter stopped, holding no control.
      {"pvc start", [&] {
         pvc::PVCVideoFilter f;
         const int r = WithFailingAllocation("pvc start", [&] {
           return f.start(host::ObjectRef<host::FilterControl>(&control));
         });
         EXPECT_EQ(f.worker(), nullptr);
         EXPECT_EQ(control.refs.load(), 0);
         return r;
       }, -1},
      // The second frame (the warm-up for the frame size) fails: it passes
      // unprocessed and the next ones warm up again and are filtered.
      {"pvc processFrame", [&] {
         pvc::PVCVideoFilter f;
         f.setProperty("pvc_parameter", R"({"Backend":"cpu"})", 18);
         f.start(host::ObjectRef<host::FilterControl>(&control));
         testutil::PlaneFrame frame(64, 32);
         host::ObjectRef<host::HostVideoFrame> out;
         f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);  // sets up
         const int r = WithFailingAllocation("pvc processFrame", [&] {
           return f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);
         });
         EXPECT_FALSE(out);
         EXPECT_EQ(frame.refs.load(), 0);
         int filtered = 0;
         for (int i = 0; i < 6 && filtered == 0; ++i) {
           filtered += f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out) == 0;
           out.reset();
         }
         EXPECT_EQ(filtered, 1) << "pvc processFrame: no frame filtered after the failure";
         f.stop();
         return r;
       }, 1},
      {"pvc stop", [&] {
         pvc::PVCVideoFilter f;
         f.start(host::ObjectRef<host::FilterControl>(&control));
         return WithFailingAllocation("pvc stop", [&] { return f.stop(); });
       }, 0},
      {"fisheye setProperty", [&] {
         fisheye::FishCorrectionVideoFilter f;
         f.start(host::ObjectRef<host::FilterControl>(&control));
         return WithFailingAllocation("fisheye setProperty", [&] {
           return f.setProperty("fishCorrection", kFishValue, std::strlen(kFishValue) + 1);
         });
       }, 0},
      {"fisheye start", [&] {
         fisheye::FishCorrectionVideoFilter f;
         const int r = WithFailingAllocation("fisheye start", [&] {
           return f.start(host::ObjectRef<host::FilterControl>(&control));
         });
         EXPECT_EQ(f.corrector(), nullptr);
         EXPECT_EQ(control.refs.load(), 0);
         return r;
       }, -1},
      // The remap maps cannot be built: the frame is handed on unchanged.
      {"fisheye processFrame", [&] {
         fisheye::FishCorrectionVideoFilter f;
         f.start(host::ObjectRef<host::FilterControl>(&control));
         f.setProperty("fishCorrection", kFishValue, std::strlen(kFishValue) + 1);
         testutil::PlaneFrame frame(16, 8);
         frame.plane().assign(16 * 8, 77);
         host::ObjectRef<host::HostVideoFrame> out;
         const int r = WithFailingAllocation("fisheye processFrame", [&] {
           return f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);
         });
         EXPECT_EQ(frame.plane(), std::vector<uint8_t>(16 * 8, 77));
         out.reset();
         return r;
       }, 0},
      {"fisheye stop", [&] {
         fisheye::FishCorrectionVideoFilter f;
         f.start(host::ObjectRef<host::FilterControl>(&control));
         return WithFailingAllocation("fisheye stop", [&] { return f.stop(); });
       }, 0},
      // Factories: 1 when a filter came back, 0 for the empty reference.
      {"pvc createVideoFilter", [&] {
         pvc::PvcExtensionProvider provider;
         host::ObjectRef<host::ExtensionVideoFilter> out;
         WithFailingAllocation("pvc createVideoFilter", [&] {
           provider.createVideoFilter(out, "pvc");
           return 0;
         });
         return out ? 1 : 0;
       }, 0},
      {"fisheye createVideoFilter", [&] {
         fisheye::FishCorrectionProvider provider;
         host::ObjectRef<host::ExtensionVideoFilter> out;
         WithFailingAllocation("fisheye createVideoFilter", [&] {
           provider.createVideoFilter(out, "FishCorrectionVideoFilter");
           return 0;
         });
         return out ? 1 : 0;
       }, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.call(), row.result) << row.label;
    EXPECT_EQ(control.refs.load(), 0) << row.label;
  }
}

}  // namespace
