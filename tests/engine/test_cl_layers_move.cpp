// The channel-moving layer types at the OpenCL level (Concat, Split,
// Shuffle, ShuffleSplit2, Slice, Softmax, Normalize, Reshape): which
// kernel each shape takes and which shapes stay on the CPU, device results
// against the same layer computed on the CPU, and which tensors stay on
// the device in small chains.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/cl/base.h"
#include "engine/cl/device_layout.h"
#include "tests/engine/cl_device.h"
#include "tests/engine/engine_test_util.h"

namespace {

using engine::Tensor;

// Moved values pass through one half conversion (relative error 2^-11);
// softmax exponentiates inputs of at most 3 in magnitude that did so, and
// converts its result once more.
constexpr double kRelTol = 4e-3;
constexpr double kAbsTol = 2e-3;
constexpr float kStale = std::numeric_limits<float>::quiet_NaN();

// After a convolution over half values the error grows with the sum of
// the absolute products, which the largest output value stands in for: a
// value misplaced by a layer is off by the order of that value itself.
constexpr double kSumTol = 1e-2;

// Values of t that differ from want beyond the tolerance (all of them when
// the counts differ); after_sum: t comes out of a convolution.
size_t Mismatches(const Tensor& t, const std::vector<float>& want, bool after_sum = false) {
  if (t.host_data == nullptr || t.elements() != want.size()) return want.size() + 1;
  double largest = 0;
  for (float v : want) largest = std::max(largest, std::fabs(static_cast<double>(v)));
  const double abs_tol = after_sum ? kSumTol * largest : kAbsTol;
  size_t bad = 0;
  for (size_t i = 0; i < want.size(); ++i) {
    const double got = t.host_data[i];
    if (!(std::fabs(got - want[i]) <= abs_tol + kRelTol * std::fabs(want[i]))) ++bad;
  }
  return bad;
}

// Gives a tensor without a device producer device memory of the form, as
// a driver that keeps its inputs on the device does.  The layer still
// uploads the host values, since no device layer wrote that memory.
void GiveDeviceMemory(Tensor* t, int form) {
  auto* m = new opencl::ClMemory(cltest::Device());
  t->device_mem = m;  // the tensor owns it
  bool ok = false;
  if (form == engine::cl::kModeHalfImage) {
    const engine::cl::TexelExtent e = engine::cl::ImageExtent(0, t->n, t->h, t->w, t->c);
    ok = m->CreateImage(e.width, e.height, CL_HALF_FLOAT, CL_RGBA, CL_MEM_READ_WRITE);
  } else {
    ok = m->CreateBuffer((t->elements() + 3) / 4 * 8, CL_MEM_READ_WRITE);
  }
  ASSERT_TRUE(ok);
}

constexpr int kNone = -1;
constexpr int kImage = engine::cl::kModeHalfImage;
constexpr int kBuffer = engine::cl::kModeHalfBuffer;

struct MoveCase {
  const char* label;
  const char* type;
  std::vector<std::vector<int>> inputs;  // h, w, c (n 1; n, h, w, c with four)
  int outputs;
  std::vector<int> params;
  int device_mem;  // form of device memory given to the inputs, or kNone
  bool bytes;      // 8-bit inputs
  const char* placement;  // "cl:<kernel>", or "cpu:" for any CPU kernel
};

std::ostream& operator<<(std::ostream& os, const MoveCase& c) { return os << c.label; }

// One layer "in0.." -> "out0.." with the same random inputs in every
// bench built from the case.
struct Single {
  enginetest::Bench b;
  engine::Layer* layer = nullptr;

  Single(const MoveCase& c, bool device) {
    std::mt19937 rng(std::hash<std::string>()(c.label) & 0xFFFFFFFF);
    std::uniform_real_distribution<float> value(-3.f, 3.f);
    if (device) b.env.engine = cltest::Device();
    enginetest::Recipe r{c.type};
    r.params = c.params;
    r.alpha = 0.75f;  // Normalize's fill value
    for (size_t i = 0; i < c.inputs.size(); ++i) {
      const std::vector<int>& s = c.inputs[i];
      const std::string name = "in" + std::to_string(i);
      Tensor& t = s.size() == 4 ? b.Input(name, s[0], s[1], s[2], s[3])
                                : b.Input(name, 1, s[0], s[1], s[2]);
      if (c.bytes) {
        const float mean[3] = {127.5f, 100.f, 80.25f}, scale[3] = {1 / 127.5f, 0.02f, -0.0175f};
        std::copy(mean, mean + 3, t.mean);
        std::copy(scale, scale + 3, t.scale);
        uint8_t* u8 = t.ensure_u8();
        for (size_t k = 0; k < t.elements(); ++k) u8[k] = static_cast<uint8_t>(rng() & 0xFF);
      } else {
        float* v = t.ensure_host();
        for (size_t k = 0; k < t.elements(); ++k) v[k] = value(rng);
      }
      if (device && c.device_mem != kNone) GiveDeviceMemory(&t, c.device_mem);
      r.tensors.push_back(name);
    }
    for (int i = 0; i < c.outputs; ++i) r.tensors.push_back("out" + std::to_string(i));
    layer = b.Add(r);
  }
};

class MoveLayer : public ::testing::TestWithParam<MoveCase> {
 protected:
  void SetUp() override { ASSERT_NE(cltest::Device(), nullptr); }
};

// Two runs on the device env: the placement, the CPU computation's values
// each time, and one launch of the named kernel per run.
TEST_P(MoveLayer, KernelAndValues) {
  const MoveCase& c = GetParam();
  Single cpu(c, false);
  ASSERT_NE(cpu.layer, nullptr);
  ASSERT_TRUE(cpu.layer->reshape(cpu.b.env)) << cpu.layer->last_error;
  ASSERT_TRUE(cpu.layer->run(cpu.b.env)) << cpu.layer->last_error;
  ASSERT_EQ(cpu.layer->placement.compare(0, 4, "cpu:"), 0) << cpu.layer->placement;

  Single dev(c, true);
  bool shaped = false;
  {
    testutil::CaptureStdout quiet;  // kernel creation logs its work-group size
    shaped = dev.layer->reshape(dev.b.env);
  }
  ASSERT_TRUE(shaped) << dev.layer->last_error;
  const std::string want = c.placement;
  const bool on_device = want.compare(0, 3, "cl:") == 0;
  EXPECT_EQ(dynamic_cast<engine::cl::Base*>(dev.layer)->on_device, on_device);
  const long before = on_device ? cltest::NamedEnqueues(want.c_str() + 3) : 0;
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    ASSERT_TRUE(dev.layer->run(dev.b.env)) << dev.layer->last_error;
    if (on_device) {
      EXPECT_EQ(dev.layer->placement, want);
    } else {
      EXPECT_EQ(dev.layer->placement.compare(0, 4, "cpu:"), 0) << dev.layer->placement;
    }
    ASSERT_EQ(dev.layer->outputs.size(), cpu.layer->outputs.size());
    for (size_t i = 0; i < cpu.layer->outputs.size(); ++i) {
      const Tensor& ref = *cpu.layer->outputs[i];
      EXPECT_TRUE(dev.layer->outputs[i]->same_shape(ref)) << "output " << i;
      EXPECT_EQ(Mismatches(*dev.layer->outputs[i],
                           std::vector<float>(ref.host_data, ref.host_data + ref.elements())),
                0u)
          << "output " << i;
    }
  }
  if (on_device) {
    if (cltest::CountsLaunches()) {
      EXPECT_EQ(cltest::NamedEnqueues(want.c_str() + 3) - before, 2);
    }
  }
}

// Slice params: (start, end, step) for h, w, c; start -1 takes the axis.
std::vector<int> SliceC(int start, int end, int step = 1) {
  return {-1, 0, 0, -1, 0, 0, start, end, step};
}

INSTANTIATE_TEST_SUITE_P(Concat, MoveLayer, ::testing::Values(
    MoveCase{"c4_8", "Concat", {{3, 10, 4}, {3, 10, 8}}, 1, {}, kImage, false, "cl:concat2"},
    MoveCase{"c4_4_12_w1", "Concat", {{5, 1, 4}, {5, 1, 4}, {5, 1, 12}}, 1, {}, kImage, false, "cl:concat3"},
    MoveCase{"c8_4_4_4", "Concat", {{2, 17, 8}, {2, 17, 4}, {2, 17, 4}, {2, 17, 4}}, 1, {}, kImage, false, "cl:concat4"},
    MoveCase{"c8_2_2", "Concat", {{3, 10, 8}, {3, 10, 2}, {3, 10, 2}}, 1, {}, kImage, false, "cl:concat3_X4_2_2"},
    MoveCase{"c6_3_3_1px", "Concat", {{1, 1, 6}, {1, 1, 3}, {1, 1, 3}}, 1, {}, kImage, false, "cl:concat3_X2_3_3"},
    MoveCase{"buf_c3_5", "Concat", {{3, 10, 3}, {3, 10, 5}}, 1, {}, kBuffer, false, "cl:concat2_buf"},
    MoveCase{"buf_c1_2_6_1px", "Concat", {{1, 1, 1}, {1, 1, 2}, {1, 1, 6}}, 1, {}, kBuffer, false, "cl:concat3_buf"},
    MoveCase{"buf_c4_4_3_2", "Concat", {{1, 17, 4}, {1, 17, 4}, {1, 17, 3}, {1, 17, 2}}, 1, {}, kBuffer, false, "cl:concat4_buf"},
    MoveCase{"c5_3_image_cpu", "Concat", {{3, 10, 5}, {3, 10, 3}}, 1, {}, kImage, false, "cpu:"},
    MoveCase{"c2_2_2_image_cpu", "Concat", {{3, 10, 2}, {3, 10, 2}, {3, 10, 2}}, 1, {}, kImage, false, "cpu:"},
    MoveCase{"no_device_memory_cpu", "Concat", {{3, 10, 4}, {3, 10, 8}}, 1, {}, kNone, false, "cpu:"},
    MoveCase{"five_inputs_cpu", "Concat", {{2, 3, 4}, {2, 3, 4}, {2, 3, 4}, {2, 3, 4}, {2, 3, 4}}, 1, {}, kImage, false, "cpu:"}));

INSTANTIATE_TEST_SUITE_P(Split, MoveLayer, ::testing::Values(
    MoveCase{"c16_to_8_8", "Split", {{3, 10, 16}}, 2, {}, kNone, false, "cl:split_2"},
    MoveCase{"c8_to_4_4_1px", "Split", {{1, 1, 8}}, 2, {}, kNone, false, "cl:split_2"},
    MoveCase{"three_outputs_cpu", "Split", {{3, 10, 12}}, 3, {}, kNone, false, "cpu:"},
    MoveCase{"c12_to_6_6_cpu", "Split", {{3, 10, 12}}, 2, {}, kNone, false, "cpu:"}));

INSTANTIATE_TEST_SUITE_P(Shuffle, MoveLayer, ::testing::Values(
    MoveCase{"c16_g8", "Shuffle", {{2, 10, 16}}, 1, {8}, kNone, false, "cl:shuffle_half"},
    MoveCase{"c8_g2", "Shuffle", {{3, 17, 8}}, 1, {2}, kNone, false, "cl:shuffle_2"},
    MoveCase{"c24_g2_w1", "Shuffle", {{4, 1, 24}}, 1, {2}, kNone, false, "cl:shuffle_2"},
    MoveCase{"c12_g3_cpu", "Shuffle", {{2, 10, 12}}, 1, {3}, kNone, false, "cpu:"},
    MoveCase{"c16_g4_cpu", "Shuffle", {{2, 10, 16}}, 1, {4}, kNone, false, "cpu:"},
    MoveCase{"c12_g6_not_8_cpu", "Shuffle", {{2, 10, 12}}, 1, {6}, kNone, false, "cpu:"}));

INSTANTIATE_TEST_SUITE_P(ShuffleSplit2, MoveLayer, ::testing::Values(
    MoveCase{"one_c16_g8", "ShuffleSplit2", {{2, 17, 16}}, 1, {8}, kNone, false, "cl:shuffle_split2_half"},
    MoveCase{"one_c8_g2_1px", "ShuffleSplit2", {{1, 1, 8}}, 1, {2}, kNone, false, "cl:shuffle_split2_2"},
    MoveCase{"two_c8_g8_two_out", "ShuffleSplit2", {{3, 10, 8}, {3, 10, 8}}, 2, {8}, kNone, false, "cl:shuffle_split2_half"},
    MoveCase{"two_c4_g2_two_out", "ShuffleSplit2", {{3, 10, 4}, {3, 10, 4}}, 2, {2}, kNone, false, "cl:shuffle_split2_2"},
    MoveCase{"two_c4_g4_one_out", "ShuffleSplit2", {{2, 5, 4}, {2, 5, 4}}, 1, {4}, kNone, false, "cl:shuffle_split2_half"},
    MoveCase{"two_c8_g2_one_out", "ShuffleSplit2", {{2, 5, 8}, {2, 5, 8}}, 1, {2}, kNone, false, "cl:shuffle_split2_2"},
    MoveCase{"unequal_c8_c4_cpu", "ShuffleSplit2", {{2, 5, 8}, {2, 5, 4}}, 2, {2}, kNone, false, "cpu:"},
    MoveCase{"one_c12_e6_cpu", "ShuffleSplit2", {{2, 5, 12}}, 1, {6}, kNone, false, "cpu:"},
    MoveCase{"g4_of_e8_cpu", "ShuffleSplit2", {{2, 5, 8}, {2, 5, 8}}, 2, {4}, kNone, false, "cpu:"}));

INSTANTIATE_TEST_SUITE_P(Slice, MoveLayer, ::testing::Values(
    MoveCase{"c12_from4", "Slice", {{2, 17, 12}}, 1, SliceC(4, 12), kNone, false, "cl:slice"},
    MoveCase{"c12_from4_take5", "Slice", {{2, 17, 12}}, 1, SliceC(4, 9), kNone, false, "cl:slice"},
    MoveCase{"c17_last_1px", "Slice", {{1, 1, 17}}, 1, SliceC(16, 17), kNone, false, "cl:slice"},
    MoveCase{"c8_first3", "Slice", {{3, 4, 8}}, 1, SliceC(0, 3), kNone, false, "cl:slice"},
    MoveCase{"from2_cpu", "Slice", {{2, 17, 12}}, 1, SliceC(2, 10), kNone, false, "cpu:"},
    MoveCase{"step2_cpu", "Slice", {{2, 17, 12}}, 1, SliceC(0, 12, 2), kNone, false, "cpu:"},
    MoveCase{"rows_cpu", "Slice", {{6, 17, 12}}, 1, {1, 4, 1, -1, 0, 0, 4, 12, 1}, kNone, false, "cpu:"},
    MoveCase{"columns_cpu", "Slice", {{6, 17, 12}}, 1, {-1, 0, 0, 0, 16, 1, -1, 0, 0}, kNone, false, "cpu:"}));

INSTANTIATE_TEST_SUITE_P(Softmax, MoveLayer, ::testing::Values(
    MoveCase{"c3", "Softmax", {{3, 10, 3}}, 1, {}, kNone, false, "cl:softmax"},
    MoveCase{"c17", "Softmax", {{2, 5, 17}}, 1, {}, kNone, false, "cl:softmax"},
    MoveCase{"c1_1px", "Softmax", {{1, 1, 1}}, 1, {}, kNone, false, "cl:softmax"},
    MoveCase{"batch2_cpu", "Softmax", {{2, 3, 4, 5}}, 1, {}, kNone, false, "cpu:"}));

INSTANTIATE_TEST_SUITE_P(Normalize, MoveLayer, ::testing::Values(
    MoveCase{"bytes_c3_to4", "Normalize", {{3, 10, 3}}, 1, {4}, kNone, true, "cl:normalize_kernel"},
    MoveCase{"bytes_c3", "Normalize", {{2, 17, 3}}, 1, {0}, kNone, true, "cl:normalize_kernel"},
    MoveCase{"bytes_c1_1px", "Normalize", {{1, 1, 1}}, 1, {0}, kNone, true, "cl:normalize_kernel"},
    MoveCase{"floats_cpu", "Normalize", {{3, 10, 3}}, 1, {4}, kNone, false, "cpu:"}));

INSTANTIATE_TEST_SUITE_P(Reshape, MoveLayer, ::testing::Values(
    MoveCase{"host_producer_relabels", "Reshape", {{3, 10, 6}}, 1, {1, 1, -1, 3}, kNone, false, "cpu:"}));

// ---------------------------------------------------------------------------
// Chains: the same recipes on the device env and on a CPU env, with the
// same weights and inputs.

struct Net {
  enginetest::Bench b;
  std::vector<engine::Layer*> order;
};

void AddWeights(enginetest::Bench* b, const std::string& name, int out_c, int k, int in_c,
                std::mt19937* rng) {
  std::uniform_real_distribution<float> value(-1.f, 1.f);
  Tensor& w = b->Weight(name, out_c, k, k, in_c);
  float* wv = w.ensure_host();
  for (size_t i = 0; i < w.elements(); ++i) wv[i] = value(*rng);
  Tensor& bias = b->Weight(name + "_b", 1, 1, 1, out_c);
  float* bv = bias.ensure_host();
  for (size_t i = 0; i < bias.elements(); ++i) bv[i] = value(*rng) / 2;
}

const std::vector<int> k3p1 = {3, 3, 1, 1, 1, 1, 1, 1, 1, 1};
const std::vector<int> k1 = {1, 1, 0, 0, 0, 0, 1, 1, 1, 1};

// x (6 x 12 x 8) and the weights of the convolutions the chains use.
void Inputs(Net* n, bool device) {
  std::mt19937 rng(29);
  if (device) n->b.env.engine = cltest::Device();
  Tensor& x = n->b.Input("x", 1, 6, 12, 8);
  std::uniform_real_distribution<float> value(-1.f, 1.f);
  float* xv = x.ensure_host();
  for (size_t i = 0; i < x.elements(); ++i) xv[i] = value(rng);
  AddWeights(&n->b, "wa", 8, 3, 8, &rng);
  AddWeights(&n->b, "wb", 4, 1, 8, &rng);
  AddWeights(&n->b, "wc", 4, 3, 12, &rng);
}

bool RunNet(Net* n, const std::vector<const char*>& stale) {
  {
    testutil::CaptureStdout quiet;
    for (engine::Layer* l : n->order)
      if (!l->reshape(n->b.env)) return false;
  }
  // Host copies the device should not need to refresh.
  for (const char* name : stale) {
    Tensor& t = n->b.tensors[name];
    float* v = t.ensure_host();
    std::fill(v, v + t.elements(), kStale);
  }
  for (engine::Layer* l : n->order)
    if (!l->run(n->b.env)) return false;
  return true;
}

std::vector<float> HostValues(const Tensor& t) {
  return std::vector<float>(t.host_data, t.host_data + t.elements());
}

// x -(conv a 3x3, 8)-> y1, x -(conv b 1x1, 4)-> y2, concat -> y3 (12)
// -(conv c 3x3, 4)-> z [with an in-place activation on y3]
void BuildConcatChain(Net* n, bool device, bool relu) {
  Inputs(n, device);
  enginetest::Bench& b = n->b;
  n->order.push_back(b.Add({"Conv", {"x", "y1"}, k3p1, {"wa", "wa_b"}}, "a"));
  n->order.push_back(b.Add({"Conv", {"x", "y2"}, k1, {"wb", "wb_b"}}, "b"));
  n->order.push_back(b.Add({"Concat", {"y1", "y2", "y3"}}, "cat"));
  if (relu) n->order.push_back(b.Add({"Relu", {"y3", "y3"}, {1}}, "relu"));
  n->order.push_back(b.Add({"Conv", {"y3", "z"}, k3p1, {"wc", "wc_b"}}, "c"));
}

// Without an activation the joined tensor goes from device layer to device
// layer.  The concat kernel applies none: an in-place Relu after it runs
// on the values read back, and the next convolution uploads them.
TEST(MoveChain, ConcatBetweenConvolutions) {
  ASSERT_NE(cltest::Device(), nullptr);
  for (bool relu : {false, true}) {
    SCOPED_TRACE(relu ? "with relu" : "plain");
    Net cpu, dev;
    BuildConcatChain(&cpu, false, relu);
    BuildConcatChain(&dev, true, relu);
    ASSERT_TRUE(RunNet(&cpu, {}));
    const long before = cltest::NamedEnqueues("concat2");
    ASSERT_TRUE(RunNet(&dev, {"y1", "y2", "y3"}));
    EXPECT_EQ(dev.order[2]->placement, "cl:concat2");
    if (cltest::CountsLaunches()) {
      EXPECT_EQ(cltest::NamedEnqueues("concat2") - before, 1);
    }
    EXPECT_TRUE(std::isnan(dev.b.tensors["y1"].host_data[0])) << "y1 was read back";
    EXPECT_TRUE(std::isnan(dev.b.tensors["y2"].host_data[0])) << "y2 was read back";
    const Tensor& y3 = dev.b.tensors["y3"];
    if (relu) {
      EXPECT_EQ(dev.order[3]->placement, "cpu:activation");
      EXPECT_EQ(Mismatches(y3, HostValues(cpu.b.tensors["y3"])), 0u);
    } else {
      EXPECT_TRUE(std::isnan(y3.host_data[0])) << "y3 was read back";
    }
    EXPECT_EQ(dev.order.back()->placement.compare(0, 3, "cl:"), 0) << dev.order.back()->placement;
    EXPECT_EQ(Mismatches(dev.b.tensors["z"], HostValues(cpu.b.tensors["z"]), true), 0u);
  }
}

// x -(conv a)-> y, y -(reshape)-> r -(softmax)-> s, and y -(conv b)-> q so
// that conv a keeps writing an image.
void BuildReshapeChain(Net* n, bool device) {
  Inputs(n, device);
  enginetest::Bench& b = n->b;
  n->order.push_back(b.Add({"Conv", {"x", "y"}, k3p1, {"wa", "wa_b"}}, "a"));
  n->order.push_back(b.Add({"Reshape", {"y", "r"}, {1, 1, -1, 8}}, "flat"));
  n->order.push_back(b.Add({"Softmax", {"r", "s"}}, "prob"));
  n->order.push_back(b.Add({"Conv", {"y", "q"}, k1, {"wb", "wb_b"}}, "b"));
}

TEST(MoveChain, ReshapeAfterAnImageTurnsItIntoABuffer) {
  ASSERT_NE(cltest::Device(), nullptr);
  Net cpu, dev;
  BuildReshapeChain(&cpu, false);
  BuildReshapeChain(&dev, true);
  ASSERT_TRUE(RunNet(&cpu, {}));
  const long before = cltest::NamedEnqueues("image_to_buf");
  ASSERT_TRUE(RunNet(&dev, {"y", "r"}));
  EXPECT_EQ(dev.order[0]->placement.compare(0, 3, "cl:"), 0);
  EXPECT_EQ(dev.order[0]->placement.find("_buf_out"), std::string::npos) << dev.order[0]->placement;
  EXPECT_EQ(dev.order[1]->placement, "cl:image_to_buf");
  if (cltest::CountsLaunches()) {
    EXPECT_EQ(cltest::NamedEnqueues("image_to_buf") - before, 1);
  }
  EXPECT_EQ(dev.order[2]->placement, "cl:softmax");
  // The buffer goes straight to the softmax.
  EXPECT_TRUE(std::isnan(dev.b.tensors["y"].host_data[0])) << "y was read back";
  EXPECT_TRUE(std::isnan(dev.b.tensors["r"].host_data[0])) << "r was read back";
  EXPECT_TRUE(dev.b.tensors["r"].same_shape(cpu.b.tensors["r"]));
  EXPECT_EQ(Mismatches(dev.b.tensors["s"], HostValues(cpu.b.tensors["s"])), 0u);
  EXPECT_EQ(Mismatches(dev.b.tensors["q"], HostValues(cpu.b.tensors["q"]), true), 0u);
}

// Without a device consumer the reshaped buffer comes to the host.
TEST(MoveChain, ReshapedBufferComesToTheHost) {
  ASSERT_NE(cltest::Device(), nullptr);
  Net cpu, dev;
  for (Net* n : {&cpu, &dev}) {
    Inputs(n, n == &dev);
    n->order.push_back(n->b.Add({"Shuffle", {"x", "y"}, {2}}, "mix"));
    n->order.push_back(n->b.Add({"Reshape", {"y", "r"}, {1, -1, 4, 2}}, "flat"));
  }
  ASSERT_TRUE(RunNet(&cpu, {}));
  ASSERT_TRUE(RunNet(&dev, {"y"}));
  EXPECT_EQ(dev.order[0]->placement, "cl:shuffle_2");
  EXPECT_EQ(dev.order[1]->placement, "cl:image_to_buf");
  EXPECT_TRUE(std::isnan(dev.b.tensors["y"].host_data[0])) << "y was read back";
  EXPECT_EQ(Mismatches(dev.b.tensors["r"], HostValues(cpu.b.tensors["r"])), 0u);
}

// A convolution whose only consumer is the Reshape writes a buffer itself:
// its run reads that back and the Reshape relabels it on the host.
TEST(MoveChain, ReshapeAfterABufferOutputRelabels) {
  ASSERT_NE(cltest::Device(), nullptr);
  Net cpu, dev;
  for (Net* n : {&cpu, &dev}) {
    Inputs(n, n == &dev);
    n->order.push_back(n->b.Add({"Conv", {"x", "y"}, k1, {"wb", "wb_b"}}, "b"));
    n->order.push_back(n->b.Add({"Reshape", {"y", "r"}, {1, 1, -1, 1}}, "flat"));
  }
  ASSERT_TRUE(RunNet(&cpu, {}));
  const long before = cltest::NamedEnqueues("image_to_buf");
  ASSERT_TRUE(RunNet(&dev, {}));
  const std::string conv = dev.order[0]->placement;
  EXPECT_EQ(conv.compare(conv.size() - 8, 8, "_buf_out"), 0) << conv;
  EXPECT_EQ(dev.order[1]->placement, "cpu:relabel");
  if (cltest::CountsLaunches()) {
    EXPECT_EQ(cltest::NamedEnqueues("image_to_buf") - before, 0);
  }
  EXPECT_EQ(Mismatches(dev.b.tensors["r"], HostValues(cpu.b.tensors["r"])), 0u);
}

// Split and slice on the device feed device consumers without a read
// back; the shuffle-split's two outputs likewise.
TEST(MoveChain, MultipleOutputsStayOnTheDevice) {
  ASSERT_NE(cltest::Device(), nullptr);
  Net cpu, dev;
  for (Net* n : {&cpu, &dev}) {
    Inputs(n, n == &dev);
    enginetest::Bench& b = n->b;
    n->order.push_back(b.Add({"Split", {"x", "p", "q"}}, "split"));
    n->order.push_back(b.Add({"ShuffleSplit2", {"p", "q", "s0", "s1"}, {2}}, "mix"));
    n->order.push_back(b.Add({"Concat", {"s1", "s0", "u"}}, "cat"));
  }
  ASSERT_TRUE(RunNet(&cpu, {}));
  ASSERT_TRUE(RunNet(&dev, {"p", "q", "s0", "s1"}));
  EXPECT_EQ(dev.order[0]->placement, "cl:split_2");
  EXPECT_EQ(dev.order[1]->placement, "cl:shuffle_split2_2");
  EXPECT_EQ(dev.order[2]->placement, "cl:concat2");
  for (const char* name : {"p", "q", "s0", "s1"})
    EXPECT_TRUE(std::isnan(dev.b.tensors[name].host_data[0])) << name << " was read back";
  EXPECT_EQ(Mismatches(dev.b.tensors["u"], HostValues(cpu.b.tensors["u"])), 0u);
}

}  // namespace
