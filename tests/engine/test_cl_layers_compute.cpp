// Pooling, BinaryOp, BatchNormalization and Resize at the OpenCL level:
// the kernel each shape takes, or the CPU where no kernel fits, and the
// device result against the CPU computation of the same layer on the same
// values (itself checked against plain loops in the CPU layer tests).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/cl/base.h"
#include "engine/core/activation.h"
#include "tests/engine/cl_device.h"
#include "tests/engine/engine_test_util.h"

namespace {

// Half-precision inputs (and, for Batchnorm, parameters) and a half
// output: a few units of 2^-11 of the values involved.
constexpr double kRelTol = 4e-3;

struct Shape4 {
  const char* name;
  int n, h, w, c;
};

struct LayerCase {
  const char* label;
  enginetest::Recipe recipe;
  std::vector<Shape4> inputs;
  std::vector<Shape4> weights;
  const char* placement;  // "cl:<kernel>", or "cpu:" for any CPU kernel
  const char* activation = nullptr;  // in place after the layer: "Relu", "Sigmoid", "LeakyRelu"
};

std::ostream& operator<<(std::ostream& os, const LayerCase& c) { return os << c.label; }

struct Outcome {
  std::vector<float> values;
  std::string placement;
  bool fused = false;  // the activation after the layer was applied by it
};

// Builds the case with values from the label's seed (variances positive),
// runs it twice on the CPU or the device and returns the second result.
Outcome RunCase(const LayerCase& c, opencl::clEngine* device) {
  Outcome o;
  std::mt19937 rng(std::hash<std::string>()(c.label) & 0xFFFFFFFF);
  std::uniform_real_distribution<float> d(-1.f, 1.f);
  enginetest::Bench b;
  b.env.engine = device;
  for (const Shape4& s : c.inputs) {
    engine::Tensor& t = b.Input(s.name, s.n, s.h, s.w, s.c);
    float* v = t.ensure_host();
    for (size_t i = 0; i < t.elements(); ++i) v[i] = d(rng);
  }
  for (const Shape4& s : c.weights) {
    engine::Tensor& t = b.Weight(s.name, s.n, s.h, s.w, s.c);
    float* v = t.ensure_host();
    const bool positive = std::string(s.name) == "var";
    for (size_t i = 0; i < t.elements(); ++i) v[i] = positive ? 0.1f + std::fabs(d(rng)) : d(rng);
  }
  engine::Layer* l = b.Add(c.recipe, "layer");
  engine::Layer* act = nullptr;
  if (c.activation != nullptr) {
    const std::string out = c.recipe.tensors.back();
    // The kind a description loader gives each type by default.
    const std::string t = c.activation;
    const int kind = t == "Relu" ? 1 : t == "Sigmoid" ? 5 : 6;
    act = b.Add({c.activation, {out, out}, {kind}, {}, 0.1f}, "act");
  }
  EXPECT_NE(l, nullptr);
  if (l == nullptr) return o;
  bool shaped = false;
  {
    testutil::CaptureStdout quiet;  // kernel creation logs its work-group size
    shaped = l->reshape(b.env) && (act == nullptr || act->reshape(b.env));
  }
  EXPECT_TRUE(shaped) << l->last_error;
  for (int run = 0; run < 2 && shaped; ++run) {
    EXPECT_TRUE(l->run(b.env)) << l->last_error;
    if (act != nullptr) {
      o.fused = dynamic_cast<engine::core::Activation*>(act)->fused;
      EXPECT_TRUE(act->run(b.env)) << act->last_error;
    }
  }
  o.placement = l->placement;
  const engine::Tensor* out = l->outputs[0];
  if (out->host_data != nullptr) o.values.assign(out->host_data, out->host_data + out->elements());
  return o;
}

class DeviceLayerType : public ::testing::TestWithParam<LayerCase> {
 protected:
  void SetUp() override { ASSERT_NE(cltest::Device(), nullptr); }
};

TEST_P(DeviceLayerType, KernelAndValues) {
  const LayerCase& c = GetParam();
  const std::string want = c.placement;
  const bool on_device = want.compare(0, 3, "cl:") == 0;
  const long before = on_device ? cltest::NamedEnqueues(want.c_str() + 3) : 0;
  const Outcome dev = RunCase(c, cltest::Device());
  const Outcome cpu = RunCase(c, nullptr);
  if (on_device) {
    EXPECT_EQ(dev.placement, want);
    if (cltest::CountsLaunches()) {
      EXPECT_EQ(cltest::NamedEnqueues(want.c_str() + 3) - before, 2);
    }
  } else {
    EXPECT_EQ(dev.placement.compare(0, 4, "cpu:"), 0) << dev.placement;
  }
  ASSERT_EQ(dev.values.size(), cpu.values.size());
  ASSERT_FALSE(cpu.values.empty());
  int bad = 0;
  for (size_t i = 0; i < cpu.values.size(); ++i) {
    const double tol = on_device ? kRelTol * (1.0 + std::fabs(cpu.values[i])) : 1e-6;
    if (std::fabs(dev.values[i] - cpu.values[i]) > tol && ++bad <= 3)
      ADD_FAILURE() << "value " << i << ": device " << dev.values[i] << ", cpu " << cpu.values[i];
  }
  EXPECT_EQ(bad, 0);
}

// Window params: kernel w, h; pads w0, w1, h0, h1; strides w, h; dilations w, h.
INSTANTIATE_TEST_SUITE_P(Pooling, DeviceLayerType, ::testing::Values(
    LayerCase{"max_3x3_s2", {"MaxPool", {"x", "y"}, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1}, {}},
              {{"x", 1, 9, 17, 8}}, {}, "cl:pooling_max"},
    LayerCase{"avg_2x2_s2_padded", {"AveragePool", {"x", "y"}, {2, 2, 1, 0, 0, 1, 2, 2, 1, 1}, {}},
              {{"x", 1, 7, 10, 12}}, {}, "cl:pooling_avg"},
    LayerCase{"max_window_in_padding", {"MaxPool", {"x", "y"}, {2, 2, 3, 0, 2, 0, 1, 1, 1, 1}, {}},
              {{"x", 1, 3, 3, 4}}, {}, "cl:pooling_max"},
    LayerCase{"avg_w1", {"AveragePool", {"x", "y"}, {1, 3, 0, 0, 1, 1, 1, 1, 1, 1}, {}},
              {{"x", 1, 5, 1, 4}}, {}, "cl:pooling_avg"},
    LayerCase{"global_16", {"GlobalAveragePool", {"x", "y"}, {}, {}},
              {{"x", 1, 8, 12, 16}}, {}, "cl:global_pooling_avg"},
    LayerCase{"global_128_channels", {"GlobalAveragePool", {"x", "y"}, {}, {}},
              {{"x", 1, 8, 8, 128}}, {}, "cl:pooling_avg"},
    LayerCase{"global_width_10", {"GlobalAveragePool", {"x", "y"}, {}, {}},
              {{"x", 1, 4, 10, 8}}, {}, "cl:pooling_avg"},
    LayerCase{"six_channels_cpu", {"MaxPool", {"x", "y"}, {2, 2, 0, 0, 0, 0, 2, 2, 1, 1}, {}},
              {{"x", 1, 6, 6, 6}}, {}, "cpu:"},
    LayerCase{"dilated_cpu", {"MaxPool", {"x", "y"}, {3, 3, 2, 2, 2, 2, 1, 1, 2, 2}, {}},
              {{"x", 1, 6, 6, 8}}, {}, "cpu:"}));

INSTANTIATE_TEST_SUITE_P(Elementwise, DeviceLayerType, ::testing::Values(
    LayerCase{"add_equal_c5", {"Add", {"a", "b", "y"}, {0}, {}},
              {{"a", 1, 4, 10, 5}, {"b", 1, 4, 10, 5}}, {}, "cl:binary_op"},
    LayerCase{"mul_op0_still_multiplies", {"Mul", {"a", "b", "y"}, {0}, {}},
              {{"a", 1, 3, 17, 8}, {"b", 1, 3, 17, 8}}, {}, "cl:binary_op"},
    LayerCase{"mul_broadcast_pixel", {"Mul", {"a", "b", "y"}, {2}, {}},
              {{"a", 1, 5, 6, 12}, {"b", 1, 1, 1, 12}}, {}, "cl:binary_op"},
    LayerCase{"sub_broadcast_channel", {"BinaryOp", {"a", "b", "y"}, {1}, {}},
              {{"a", 1, 2, 3, 7}, {"b", 1, 2, 3, 1}}, {}, "cl:binary_op"},
    LayerCase{"add_relu_fused", {"Add", {"a", "b", "y"}, {0}, {}},
              {{"a", 1, 4, 4, 8}, {"b", 1, 4, 4, 8}}, {}, "cl:binary_op", "Relu"},
    LayerCase{"add_leaky_on_host", {"Add", {"a", "b", "y"}, {0}, {}},
              {{"a", 1, 4, 4, 8}, {"b", 1, 4, 4, 8}}, {}, "cl:binary_op", "LeakyRelu"},
    LayerCase{"batchnorm_c7", {"BatchNormalization", {"x", "y"}, {}, {"s", "o", "m", "var"}},
              {{"x", 1, 5, 9, 7}},
              {{"s", 1, 1, 1, 7}, {"o", 1, 1, 1, 7}, {"m", 1, 1, 1, 7}, {"var", 1, 1, 1, 7}},
              "cl:batchnorm"},
    LayerCase{"batchnorm_sigmoid_fused", {"BatchNormalization", {"x", "y"}, {}, {"s", "o", "m", "var"}},
              {{"x", 1, 3, 4, 8}},
              {{"s", 1, 1, 1, 8}, {"o", 1, 1, 1, 8}, {"m", 1, 1, 1, 8}, {"var", 1, 1, 1, 8}},
              "cl:batchnorm", "Sigmoid"}));

// Resize params: mode, align_corners; alpha = width factor, beta = height factor.
INSTANTIATE_TEST_SUITE_P(Resize, DeviceLayerType, ::testing::Values(
    LayerCase{"nearest_x2", {"Resize", {"x", "y"}, {0, 0}, {}, 2.f, 2.f},
              {{"x", 1, 3, 5, 8}}, {}, "cl:resize_nearest"},
    LayerCase{"nearest_align_down", {"Upsample", {"x", "y"}, {0, 1}, {}, 0.6f, 0.5f},
              {{"x", 1, 6, 10, 4}}, {}, "cl:resize_nearest"},
    LayerCase{"bilinear_align_x2", {"Resize", {"x", "y"}, {1, 1}, {}, 2.f, 1.5f},
              {{"x", 1, 4, 7, 12}}, {}, "cl:resize_bilinear"},
    LayerCase{"bilinear_to_extent_1", {"Resize", {"x", "y"}, {1, 1}, {}, 0.2f, 0.25f},
              {{"x", 1, 4, 5, 4}}, {}, "cl:resize_bilinear"},
    LayerCase{"six_channels_cpu", {"Resize", {"x", "y"}, {1, 0}, {}, 2.f, 2.f},
              {{"x", 1, 3, 3, 6}}, {}, "cpu:"}));

// A kernel that takes the activation flag applies kinds 1 and 5 and marks
// the activation fused; any other kind runs on the host after a read-back.
TEST(DeviceLayerType, ActivationFoldedOnlyWhereTheKernelAppliesIt) {
  ASSERT_NE(cltest::Device(), nullptr);
  const std::vector<Shape4> in = {{"a", 1, 4, 4, 8}, {"b", 1, 4, 4, 8}};
  const Outcome relu =
      RunCase({"relu", {"Add", {"a", "b", "y"}, {0}, {}}, in, {}, "cl:binary_op", "Relu"}, cltest::Device());
  const Outcome leaky = RunCase({"leaky", {"Add", {"a", "b", "y"}, {0}, {}}, in, {}, "cl:binary_op", "LeakyRelu"},
                            cltest::Device());
  EXPECT_TRUE(relu.fused);
  EXPECT_FALSE(leaky.fused);
  // Resize's kernel takes no flag: its Relu runs on its own.
  const Outcome resized = RunCase({"resize_relu", {"Resize", {"x", "y"}, {0, 0}, {}, 2.f, 2.f},
                               {{"x", 1, 3, 5, 8}}, {}, "cl:resize_nearest", "Relu"},
                              cltest::Device());
  EXPECT_FALSE(resized.fused);
  for (float v : resized.values) EXPECT_GE(v, 0.f);
}

}  // namespace
