// How layers bind tensors and weights, their defaults and their
// configuration texts.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/cl/base.h"
#include "engine/cl/conv.h"
#include "engine/core/conv.h"
#include "tests/engine/engine_test_util.h"

namespace {

using enginetest::Bench;

struct BindCase {
  const char* label;
  const char* type;
  std::vector<std::string> tensors;
  const char* inputs;   // names joined by ','
  const char* outputs;
};

std::ostream& operator<<(std::ostream& os, const BindCase& c) { return os << c.label; }

std::string Names(const std::vector<engine::Tensor*>& ts) {
  std::string s;
  for (const engine::Tensor* t : ts) s += (s.empty() ? "" : ",") + t->name;
  return s;
}

class Binding : public ::testing::TestWithParam<BindCase> {};

TEST_P(Binding, InputsThenOutputs) {
  Bench b;
  engine::Layer* l = b.Add({GetParam().type, GetParam().tensors, {}, {}});
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(Names(l->inputs), GetParam().inputs);
  EXPECT_EQ(Names(l->outputs), GetParam().outputs);
  for (engine::Tensor* t : l->outputs) EXPECT_EQ(t->producer, l);
  for (engine::Tensor* t : l->inputs) {
    ASSERT_EQ(t->consumers.size(), 1u);
    EXPECT_EQ(t->consumers[0], l);
  }
}

INSTANTIATE_TEST_SUITE_P(Rules, Binding, ::testing::Values(
    BindCase{"one_entry_binds_nothing", "Softmax", {"a"}, "", ""},
    BindCase{"empty_entry_ends_list", "Softmax", {"a", ""}, "", ""},
    BindCase{"two_entries", "Softmax", {"a", "b"}, "a", "b"},
    BindCase{"conv_three_entries_two_inputs", "Conv", {"a", "b", "c"}, "a,b", "c"},
    BindCase{"binary_two_inputs", "Add", {"a", "b", "c"}, "a,b", "c"},
    BindCase{"concat_all_but_last", "Concat", {"a", "b", "c", "d", "e"}, "a,b,c,d", "e"},
    BindCase{"split_one_input", "Split", {"a", "b", "c", "d"}, "a", "b,c,d"},
    BindCase{"shufflesplit2_three_is_2_to_1", "ShuffleSplit2", {"a", "b", "c"}, "a,b", "c"},
    BindCase{"shufflesplit2_four_is_2_to_2", "ShuffleSplit2", {"a", "b", "c", "d"}, "a,b", "c,d"}));

TEST(InPlace, ActivationJoinsProducerOnce) {
  Bench b;
  b.Input("x", 1, 4, 4, 4);
  b.Weight("w", 4, 1, 1, 4);
  engine::Layer* conv = b.Add({"Conv", {"x", "y"}, {1, 1, 0, 0, 0, 0, 1, 1}, {"w"}});
  engine::Layer* relu = b.Add({"Relu", {"y", "y"}, {1}, {}});
  engine::Layer* sig = b.Add({"Sigmoid", {"y", "y"}, {5}, {}});
  engine::Tensor& y = b.tensors["y"];
  EXPECT_EQ(y.producer, conv);
  EXPECT_TRUE(y.consumers.empty());
  ASSERT_EQ(conv->next_layers.size(), 2u);
  EXPECT_EQ(conv->next_layers[0], relu);
  EXPECT_EQ(conv->next_layers[1], sig);
  EXPECT_TRUE(relu->in_place);
}

TEST(InPlace, WithoutProducerIsAnOrdinaryConsumer) {
  Bench b;
  b.Input("x", 1, 4, 4, 4);
  engine::Layer* relu = b.Add({"Relu", {"x", "x"}, {1}, {}});
  engine::Tensor& x = b.tensors["x"];
  EXPECT_EQ(x.producer, nullptr);
  ASSERT_EQ(x.consumers.size(), 1u);
  EXPECT_EQ(x.consumers[0], relu);
  EXPECT_TRUE(relu->reshape(b.env));
}

TEST(WeightBinding, ListStopsAtFirstUnknownName) {
  Bench b;
  b.Weight("w", 4, 1, 1, 4);
  b.Weight("bias", 1, 1, 1, 4);
  auto* conv = dynamic_cast<engine::core::Conv*>(
      b.Add({"Conv", {"x", "y"}, {1, 1}, {"w", "missing", "bias"}}));
  ASSERT_NE(conv, nullptr);
  EXPECT_EQ(conv->weight, &b.weights["w"]);
  EXPECT_EQ(conv->bias->name, engine::kDummyZeroTensor);
}

TEST(WeightBinding, SharedZeroBiasSizedForLargestNeed) {
  Bench b;
  b.Weight("w8", 8, 1, 1, 4);
  b.Weight("w16", 16, 1, 1, 4);
  b.Weight("wt", 4, 2, 2, 24);  // transposed: 24 output channels
  auto* a = dynamic_cast<engine::core::Conv*>(b.Add({"Conv", {"x", "y"}, {1, 1}, {"w16"}}));
  auto* c = dynamic_cast<engine::core::Conv*>(b.Add({"Conv", {"x", "z"}, {1, 1}, {"w8"}}));
  EXPECT_EQ(a->bias, c->bias);
  EXPECT_EQ(a->bias->elements(), 16u);
  auto* d = dynamic_cast<engine::core::Conv*>(b.Add({"ConvTranspose", {"x", "t"}, {2, 2}, {"wt"}}));
  EXPECT_EQ(d->bias, a->bias);
  ASSERT_EQ(a->bias->elements(), 24u);
  for (size_t i = 0; i < 24; ++i) EXPECT_EQ(a->bias->host_data[i], 0.f);
}

TEST(LayerDefaults, FreshLayer) {
  Bench b;
  engine::LayerDesc d;  // no name
  d.type = "Softmax";
  std::unique_ptr<engine::Layer> l(engine::find_layer(3, "Softmax")(d, b.tensors, b.weights));
  EXPECT_EQ(l->name, "Unknown");
  uint32_t max_bits, min_bits;
  std::memcpy(&max_bits, &l->range_max, 4);
  std::memcpy(&min_bits, &l->range_min, 4);
  EXPECT_EQ(max_bits, 0x7F7FFFFFu);
  EXPECT_EQ(min_bits, 0x00800000u);
  EXPECT_FALSE(l->fused);
  EXPECT_TRUE(l->config_key().empty());
}

struct KeyCase {
  const char* label;
  const char* type;
  std::vector<int> params;
  const char* input;
  const char* weight;
  const char* key;
};

std::ostream& operator<<(std::ostream& os, const KeyCase& c) { return os << c.label; }

class ConfigKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(ConfigKey, Text) {
  Bench b;
  int d[4];
  enginetest::Dims(GetParam().input, d);
  b.Input("x", d[0], d[1], d[2], d[3]);
  std::vector<std::string> w;
  if (GetParam().weight[0] != '\0') {
    enginetest::Dims(GetParam().weight, d);
    b.Weight("w", d[0], d[1], d[2], d[3]);
    w.push_back("w");
  }
  engine::Layer* l = b.Add({GetParam().type, {"x", "y"}, GetParam().params, w});
  ASSERT_TRUE(l->reshape(b.env)) << l->last_error;
  EXPECT_EQ(l->config_key(), GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(Windows, ConfigKey, ::testing::Values(
    KeyCase{"conv3x3_s2", "Conv", {3, 3, 1, 1, 1, 1, 2, 2}, "1x128x128x16", "32x3x3x16", "3x3_s2x2_32x64x64x16"},
    KeyCase{"conv1x1_no_stride_part", "Conv", {1, 1, 0, 0, 0, 0, 2, 2}, "1x127x127x16", "32x1x1x16", "1x1_32x64x64x16"},
    KeyCase{"conv5x3_height_first", "Conv", {3, 5, 0, 0, 0, 0, 1, 2}, "1x9x9x2", "4x5x3x2", "5x3_s2x1_4x3x7x2"},
    KeyCase{"maxpool", "MaxPool", {2, 2, 0, 0, 0, 0, 2, 2}, "1x8x8x4", "", "2x2_s2x2_4x4x4x4"}));

TEST(ClBase, ConfigLineAndTunedSizes) {
  Bench b;
  b.Weight("w", 4, 1, 1, 4);
  auto* conv = dynamic_cast<engine::cl::Conv*>(b.Add({"Conv", {"x", "y"}, {1, 1}, {"w"}}, "c1"));
  ASSERT_NE(conv, nullptr);
  EXPECT_TRUE(conv->use_buffer_weight(nullptr));                    // the class: 1x1
  EXPECT_FALSE(conv->engine::cl::Base::use_buffer_weight(nullptr));  // what kernels ask
  conv->kernel.label = "c1";
  EXPECT_EQ(conv->config_line(), "{\"c1\",{1,1,1}},");

  EXPECT_FALSE(conv->load_config(b.env));  // not an OpenCL environment
  engine::cl::RunEnv env;
  env.work_groups.resize(2);
  env.work_groups[1]["c1"] = {4, 2, 1};
  env.current_device = 0;
  EXPECT_FALSE(conv->load_config(env));  // not in this device's table
  env.current_device = 1;
  EXPECT_TRUE(conv->load_config(env));
  EXPECT_EQ(conv->config_line(), "{\"c1\",{4,2,1}},");
  env.current_device = 7;
  EXPECT_FALSE(conv->load_config(env));
}

}  // namespace
