// The registry after load: the 27 type names in back-end 3, each building
// its class, nothing elsewhere; a repeated registration is reported and
// the last one kept.
#include <gtest/gtest.h>

#include <string>
#include <typeindex>
#include <vector>

#include "engine/cl/batchnorm.h"
#include "engine/cl/binary_op.h"
#include "engine/cl/concat.h"
#include "engine/cl/conv.h"
#include "engine/cl/deconv.h"
#include "engine/cl/depthwise_conv.h"
#include "engine/cl/normalize.h"
#include "engine/cl/pooling.h"
#include "engine/cl/reshape.h"
#include "engine/cl/resize.h"
#include "engine/cl/shuffle.h"
#include "engine/cl/shuffle_split2.h"
#include "engine/cl/slice.h"
#include "engine/cl/softmax.h"
#include "engine/cl/split.h"
#include "engine/core/squeeze.h"
#include "engine/registry.h"
#include "engine/simd/activation.h"
#include "engine/simd/gemm.h"
#include "engine/simd/pad.h"
#include "tests/engine/engine_test_util.h"

namespace {

using engine::LayerRegistry;

struct Registered {
  const char* name;
  std::type_index built;
};

std::ostream& operator<<(std::ostream& os, const Registered& r) { return os << r.name; }

const std::vector<Registered> kExpected = {
    {"Activation", typeid(engine::simd::Activation)},
    {"Add", typeid(engine::cl::BinaryOp)},
    {"AveragePool", typeid(engine::cl::Pooling)},
    {"BatchNormalization", typeid(engine::cl::Batchnorm)},
    {"BinaryOp", typeid(engine::cl::BinaryOp)},
    {"Concat", typeid(engine::cl::Concat)},
    {"Conv", typeid(engine::cl::Conv)},
    {"ConvTranspose", typeid(engine::cl::DeConv)},
    {"DepthwiseConv", typeid(engine::cl::DepthwiseConv)},
    {"Gemm", typeid(engine::simd::Gemm)},
    {"GlobalAveragePool", typeid(engine::cl::Pooling)},
    {"LeakyRelu", typeid(engine::simd::Activation)},
    {"MaxPool", typeid(engine::cl::Pooling)},
    {"Mul", typeid(engine::cl::BinaryOp)},
    {"Normalize", typeid(engine::cl::Normalize)},
    {"Pad", typeid(engine::simd::Pad)},
    {"Relu", typeid(engine::simd::Activation)},
    {"Reshape", typeid(engine::cl::Reshape)},
    {"Resize", typeid(engine::cl::Resize)},
    {"Shuffle", typeid(engine::cl::Shuffle)},
    {"ShuffleSplit2", typeid(engine::cl::ShuffleSplit2)},
    {"Sigmoid", typeid(engine::simd::Activation)},
    {"Slice", typeid(engine::cl::Slice)},
    {"Softmax", typeid(engine::cl::Softmax)},
    {"Split", typeid(engine::cl::Split)},
    {"Squeeze", typeid(engine::ref::Squeeze)},
    {"Upsample", typeid(engine::cl::Resize)},
};

TEST(Registry, BackendThreeHoldsExactlyTheTypeNames) {
  std::vector<std::string> names;
  for (const auto& entry : *LayerRegistry::instance().backend(engine::kBackendDefault))
    names.push_back(entry.first);
  std::vector<std::string> expected;
  for (const Registered& r : kExpected) expected.push_back(r.name);
  EXPECT_EQ(names, expected);
  EXPECT_EQ(names.size(), 27u);
}

TEST(Registry, OtherBackendsEmpty) {
  for (int b : {0, 1, 2, 4, 5, 6, 7})
    EXPECT_TRUE(LayerRegistry::instance().backend(b)->empty()) << "back-end " << b;
  EXPECT_EQ(LayerRegistry::instance().backend(8), nullptr);
  EXPECT_EQ(LayerRegistry::instance().backend(-1), nullptr);
  EXPECT_EQ(engine::find_layer(engine::kBackendDefault, "conv"), nullptr);  // bytewise
}

class RegisteredType : public ::testing::TestWithParam<Registered> {};

TEST_P(RegisteredType, BuildsItsClass) {
  enginetest::Bench b;
  b.Input("in", 1, 4, 4, 4);
  engine::Layer* l = b.Add({GetParam().name, {"in", "out"}, {}, {}}, "named");
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(std::type_index(typeid(*l)), GetParam().built);
  EXPECT_EQ(l->type, GetParam().name);
  EXPECT_EQ(l->name, "named");
}

INSTANTIATE_TEST_SUITE_P(All, RegisteredType, ::testing::ValuesIn(kExpected));

engine::Layer* OtherFactory(const engine::LayerDesc&, engine::TensorMap&, engine::WeightMap&) {
  return nullptr;
}

TEST(Registry, RepeatedNameIsReportedAndLastKept) {
  const engine::LayerFactory original = engine::find_layer(engine::kBackendDefault, "Conv");
  ASSERT_NE(original, nullptr);
  testing::internal::CaptureStdout();
  engine::register_layer(engine::kBackendDefault, "Conv", &OtherFactory);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed, "Layer type Conv already registered.\n");
  EXPECT_EQ(engine::find_layer(engine::kBackendDefault, "Conv"), &OtherFactory);
  testing::internal::CaptureStdout();
  engine::register_layer(engine::kBackendDefault, "Conv", original);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(engine::find_layer(engine::kBackendDefault, "Conv"), original);
}

TEST(Registry, SameNameInAnotherBackendIsNoRepeat) {
  testing::internal::CaptureStdout();
  engine::register_layer(5, "Conv", &OtherFactory);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(engine::find_layer(5, "Conv"), &OtherFactory);
  EXPECT_NE(engine::find_layer(engine::kBackendDefault, "Conv"), &OtherFactory);
  LayerRegistry::instance().backend(5)->clear();
}

}  // namespace
