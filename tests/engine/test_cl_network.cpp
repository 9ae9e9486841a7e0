// Whole networks at the OpenCL level: the JND network through the engine
// against the JND filter's own device pipeline on a real frame, and netrun
// giving the same outputs on the CPU and on the device for the examples.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/cl/base.h"
#include "jnd/jnd_filter.h"
#include "jnd/jnd_weights.h"
#include "tests/engine/cl_device.h"
#include "tools/netrun/net_loader.h"
#include "tools/netrun/network.h"
#include "tests/engine/netrun_cli.h"
#include "tools/netrun/npy.h"

namespace {

constexpr int kW = 1280, kH = 720;

// A 1280x720 luma frame of the shared test video; empty when the video or
// ffmpeg is missing.
std::vector<uint8_t> RealFrame() {
  const std::string out =
      ::testing::TempDir() + "engine_real_frame_" + std::to_string(getpid()) + ".gray";
  const std::string cmd = "ffmpeg -v error -y -ss 5 -i '" OXRIN_TESTDATA_DIR
                          "/Megamind.avi' -frames:v 1 -vf scale=1280:720 -pix_fmt gray "
                          "-f rawvideo '" + out + "' 2>/dev/null";
  std::vector<uint8_t> p(static_cast<size_t>(kW) * kH);
  std::ifstream f;
  if (std::system(cmd.c_str()) == 0) f.open(out, std::ios::binary);
  const bool ok =
      f && f.read(reinterpret_cast<char*>(p.data()), static_cast<std::streamsize>(p.size()));
  std::remove(out.c_str());
  return ok ? p : std::vector<uint8_t>();
}

// Interior agreement of two planes: the engine's convolutions pad with
// zeros where the filter clamps at the edges, so three pixels along each
// border (one per 3x3 layer) are left out.
struct Agreement {
  size_t total = 0, within1 = 0, exact = 0;
  int max = 0;
};

Agreement Interior(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  constexpr int kBorder = 3;
  Agreement g;
  for (int y = kBorder; y < kH - kBorder; ++y)
    for (int x = kBorder; x < kW - kBorder; ++x) {
      const size_t i = static_cast<size_t>(y) * kW + x;
      const int d = std::abs(int(a[i]) - int(b[i]));
      ++g.total;
      g.within1 += d <= 1;
      g.exact += d == 0;
      g.max = std::max(g.max, d);
    }
  return g;
}

std::vector<uint8_t> FilterOnDevice(const std::vector<uint8_t>& frame, bool quantised) {
  jnd::JndFilterCL filter;
  std::vector<uint8_t> plane = frame;
  testutil::CaptureStdout quiet;
  if (!filter.initialise(jnd::WeightsOf(jnd::kJndWeightSet3), "", 0, testutil::CpuVendorCode(), {},
                         quantised) ||
      !filter.process(plane.data(), plane.data(), kW, kH, kW, true))
    return {};
  return plane;
}

TEST(JndThroughEngine, MatchesTheFilterPipelineOnARealFrame) {
  ASSERT_NE(cltest::Device(), nullptr);
  const std::vector<uint8_t> frame = RealFrame();
  if (frame.empty()) GTEST_SKIP() << "no test video or ffmpeg";

  netrun::NetDescription desc;
  std::string error;
  ASSERT_TRUE(netrun::LoadNetDescription(OXRIN_EXAMPLES_DIR "/jnd.json", &desc, &error)) << error;
  netrun::Network net;
  ASSERT_TRUE(net.Build(desc, &error)) << error;
  netrun::NpyArray in;
  in.is_u8 = true;
  in.shape = {1, kH, kW, 1};
  in.u8 = frame;
  ASSERT_TRUE(net.SetInput(in, &error)) << error;
  engine::cl::RunEnv env;
  env.engine = cltest::Device();
  bool ran = false;
  {
    testutil::CaptureStdout quiet;  // kernel creation logs its work-group sizes
    ran = net.Reshape(env, &error) && net.Run(env, &error);
  }
  ASSERT_TRUE(ran) << error;
  std::string placements;
  for (const engine::Layer* l : net.order) placements += l->name + "=" + l->placement + " ";
  EXPECT_EQ(placements,
            "conv1=cl:conv_input_uint8 relu1=cpu:folded conv2=cl:conv3x3_s1x1 relu2=cpu:folded "
            "conv3=cl:conv3x3_s1x1 relu3=cpu:folded ");

  const engine::Tensor& out = net.tensors["jnd"];
  ASSERT_NE(out.host_data, nullptr);
  std::vector<uint8_t> engine_plane(static_cast<size_t>(kW) * kH);
  for (size_t i = 0; i < engine_plane.size(); ++i)
    engine_plane[i] = static_cast<uint8_t>(
        std::min(255.0, std::max(0.0, std::nearbyint(out.host_data[i] * 255.0))));

  const std::vector<uint8_t> plain = FilterOnDevice(frame, false);
  const std::vector<uint8_t> quantised = FilterOnDevice(frame, true);
  ASSERT_FALSE(plain.empty());
  ASSERT_FALSE(quantised.empty());
  const Agreement p = Interior(engine_plane, plain);
  const Agreement q = Interior(engine_plane, quantised);
  std::printf("engine vs filter, non-quantised: %zu interior pixels, %zu exact, %zu within 1, "
              "max %d\nengine vs filter, quantised: %zu exact, %zu within 1, max %d\n",
              p.total, p.exact, p.within1, p.max, q.exact, q.within1, q.max);
  EXPECT_GE(p.within1 * 1000, p.total * 999);
}

using netruntest::Netrun;
using netruntest::Outcome;

class ExampleOnDevice : public ::testing::TestWithParam<const char*> {};

// Random input of the example's declared shape; the CPU and the device
// agree within the half-precision tolerance of a few chained layers: 2% of
// the output's largest magnitude (at least 1).
TEST_P(ExampleOnDevice, SameOutputAsTheCpu) {
  const std::string net = std::string(OXRIN_EXAMPLES_DIR) + "/" + GetParam() + ".json";
  netrun::NetDescription desc;
  std::string error;
  ASSERT_TRUE(netrun::LoadNetDescription(net, &desc, &error)) << error;
  ASSERT_FALSE(desc.inputs.empty());
  const netrun::InputEntry& in = desc.inputs[0];
  const std::string base =
      ::testing::TempDir() + "/example_" + GetParam() + "_" + std::to_string(getpid());
  std::vector<int64_t> shape(in.shape, in.shape + 4);
  size_t count = 1;
  for (int64_t d : shape) count *= static_cast<size_t>(d);
  std::mt19937 rng(23);
  if (in.u8) {
    netrun::NpyArray a;
    a.is_u8 = true;
    a.shape = shape;
    a.u8.resize(count);
    for (uint8_t& v : a.u8) v = static_cast<uint8_t>(rng() & 0xFF);
    ASSERT_TRUE(netrun::WriteNpyU8(base + "_in.npy", shape, a.u8.data(), &error)) << error;
  } else {
    std::uniform_real_distribution<float> d(-1.f, 1.f);
    std::vector<float> v(count);
    for (float& x : v) x = d(rng);
    ASSERT_TRUE(netrun::WriteNpy(base + "_in.npy", shape, v.data(), &error)) << error;
  }
  const Outcome cpu = Netrun(net + " --device cpu --input " + base + "_in.npy --output " + base +
                             "_cpu.npy");
  ASSERT_EQ(cpu.status, 0) << cpu.output;
  const Outcome cl = Netrun(net + " --device cl --persona nvidia --input " + base +
                            "_in.npy --output " + base + "_cl.npy");
  ASSERT_EQ(cl.status, 0) << cl.output;
  EXPECT_NE(cl.output.find(" cl:"), std::string::npos) << cl.output;
  EXPECT_NE(cl.output.find(" device\n"), std::string::npos) << "no profiled device time";

  netrun::NpyArray a, b;
  ASSERT_TRUE(netrun::ReadNpy(base + "_cpu.npy", &a, &error)) << error;
  ASSERT_TRUE(netrun::ReadNpy(base + "_cl.npy", &b, &error)) << error;
  ASSERT_EQ(a.shape, b.shape);
  double peak = 1.0, worst = 0.0;
  for (float v : a.f32) peak = std::max(peak, std::fabs(static_cast<double>(v)));
  for (size_t i = 0; i < a.f32.size(); ++i)
    worst = std::max(worst, std::fabs(static_cast<double>(a.f32[i]) - b.f32[i]));
  EXPECT_LE(worst, 0.02 * peak) << "largest difference " << worst << " of " << peak;
  for (const char* s : {"_in.npy", "_cpu.npy", "_cl.npy"}) std::remove((base + s).c_str());
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleOnDevice, ::testing::Values("jnd", "classifier", "segmenter", "mobile_block"));

// Without a GPU (none on this machine unless a persona presents one) the
// device run fails and says why; it never quietly runs on the CPU.
TEST(NetrunDevice, WithoutAGpuFailsClearly) {
  const std::string out_path = testing::TempDir() + "/no_gpu_" + std::to_string(getpid()) + ".npy";
  const Outcome o =
      Netrun(std::string(OXRIN_EXAMPLES_DIR) + "/jnd.json --device cl --output " + out_path);
  EXPECT_EQ(o.status, 4) << o.output;
  EXPECT_NE(o.output.find("netrun: no OpenCL device"), std::string::npos) << o.output;
  EXPECT_EQ(o.output.find("cpu:"), std::string::npos) << o.output;
  EXPECT_NE(access(out_path.c_str(), F_OK), 0) << "an output was written";
}

}  // namespace
