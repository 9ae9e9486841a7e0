// Output shapes of every layer type, per rule, from hand-worked cases.
#include <gtest/gtest.h>

#include "engine/core/deconv.h"
#include "engine/core/slice.h"
#include "engine/shape.h"
#include "tests/engine/engine_test_util.h"

namespace {

using enginetest::Bench;
using enginetest::ShapeCase;
using enginetest::ShapeOf;
using enginetest::Shapes;

class ShapeRule : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ShapeRule, OutputShape) { EXPECT_EQ(Shapes(GetParam()), GetParam().expected); }

// params: kernel_w, kernel_h, pad_w0, pad_w1, pad_h0, pad_h1, stride_w,
// stride_h, dilation_w, dilation_h; weights n, h, w, c.
INSTANTIATE_TEST_SUITE_P(ConvFamily, ShapeRule, ::testing::Values(
    ShapeCase{"conv3x3_pad1", "Conv", {"1x8x8x3"}, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1}, {"16x3x3x3"}, 0, 0, 1, "1x8x8x16"},
    ShapeCase{"conv3x3_s2_asymmetric_pads", "Conv", {"1x9x10x4"}, {3, 3, 0, 1, 1, 0, 2, 2, 1, 1}, {"8x3x3x4"}, 0, 0, 1, "1x4x5x8"},
    ShapeCase{"conv_dilation2", "Conv", {"1x10x10x2"}, {3, 3, 0, 0, 0, 0, 1, 1, 2, 2}, {"4x3x3x2"}, 0, 0, 1, "1x6x6x4"},
    ShapeCase{"conv_dilation_0_and_minus1_are_1", "Conv", {"1x5x5x1"}, {3, 3, 0, 0, 0, 0, 1, 1, 0, -1}, {"2x3x3x1"}, 0, 0, 1, "1x3x3x2"},
    ShapeCase{"conv7x5_strides_2_3", "Conv", {"1x20x15x1"}, {7, 5, 0, 0, 0, 0, 2, 3, 1, 1}, {"6x5x7x1"}, 0, 0, 1, "1x6x5x6"},
    ShapeCase{"conv_two_inputs_add_channels", "Conv", {"1x6x6x2", "1x6x6x3"}, {1, 1, 0, 0, 0, 0, 1, 1}, {"4x1x1x5"}, 0, 0, 1, "1x6x6x4"},
    ShapeCase{"conv_kernel_fills_padded_input", "Conv", {"1x3x3x1"}, {5, 5, 1, 1, 1, 1, 1, 1}, {"1x5x5x1"}, 0, 0, 1, "1x1x1x1"},
    ShapeCase{"depthwise_s2", "DepthwiseConv", {"1x8x8x6"}, {3, 3, 1, 1, 1, 1, 2, 2}, {"6x3x3x1"}, 0, 0, 1, "1x4x4x6"},
    ShapeCase{"deconv_k2_s2", "ConvTranspose", {"1x4x5x8"}, {2, 2, 0, 0, 0, 0, 2, 2}, {"8x2x2x3"}, 0, 0, 1, "1x8x10x3"},
    ShapeCase{"deconv_k3_s2_pad1", "ConvTranspose", {"1x4x4x2"}, {3, 3, 1, 1, 1, 1, 2, 2}, {"2x3x3x5"}, 0, 0, 1, "1x7x7x5"},
    ShapeCase{"deconv_wanted_h_only", "ConvTranspose", {"1x4x4x2"}, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1, 0, 8, 0}, {"2x3x3x5"}, 0, 0, 1, "1x8x7x5"},
    ShapeCase{"deconv_wanted_w_only", "ConvTranspose", {"1x4x4x2"}, {3, 3, 1, 1, 1, 1, 2, 2, 1, 1, 0, 0, 9}, {"2x3x3x5"}, 0, 0, 1, "1x7x9x5"},
    ShapeCase{"conv_batch_kept", "Conv", {"2x8x8x3"}, {1, 1, 0, 0, 0, 0, 1, 1}, {"4x1x1x3"}, 0, 0, 1, "2x8x8x4"},
    ShapeCase{"depthwise_batch_kept", "DepthwiseConv", {"2x8x8x3"}, {1, 1, 0, 0, 0, 0, 1, 1}, {"3x1x1x1"}, 0, 0, 1, "2x8x8x3"},
    ShapeCase{"deconv_batch_kept", "ConvTranspose", {"3x4x5x8"}, {2, 2, 0, 0, 0, 0, 2, 2}, {"8x2x2x3"}, 0, 0, 1, "3x8x10x3"}));

INSTANTIATE_TEST_SUITE_P(Pooling, ShapeRule, ::testing::Values(
    ShapeCase{"max_2x2_s2", "MaxPool", {"1x8x8x5"}, {2, 2, 0, 0, 0, 0, 2, 2}, {}, 0, 0, 1, "1x4x4x5"},
    ShapeCase{"max_3x3_s2_pad1", "MaxPool", {"1x7x7x3"}, {3, 3, 1, 1, 1, 1, 2, 2}, {}, 0, 0, 1, "1x4x4x3"},
    ShapeCase{"avg_pads_dilation2", "AveragePool", {"1x6x8x4"}, {3, 3, 0, 2, 1, 0, 1, 1, 2, 2}, {}, 0, 0, 1, "1x3x6x4"},
    ShapeCase{"global_ignores_params", "GlobalAveragePool", {"1x7x5x12"}, {9, 9, 3, 3, 3, 3, 0, 0}, {}, 0, 0, 1, "1x1x1x12"},
    ShapeCase{"max_batch_kept", "MaxPool", {"3x8x8x3"}, {2, 2, 0, 0, 0, 0, 2, 2}, {}, 0, 0, 1, "3x4x4x3"}));

// params: (start, end, step) for h, w, c.
INSTANTIATE_TEST_SUITE_P(Slice, ShapeRule, ::testing::Values(
    ShapeCase{"start_minus1_everywhere", "Slice", {"1x5x6x7"}, {-1, 0, 0, -1, 0, 0, -1, 0, 0}, {}, 0, 0, 1, "1x5x6x7"},
    ShapeCase{"step2_rounds_up", "Slice", {"1x5x4x3"}, {0, 5, 2, -1, 0, 0, -1, 0, 0}, {}, 0, 0, 1, "1x3x4x3"},
    ShapeCase{"end_past_extent_stops", "Slice", {"1x2x6x8"}, {-1, 0, 0, 1, 100, 1, 2, 7, 3}, {}, 0, 0, 1, "1x2x5x2"}));

INSTANTIATE_TEST_SUITE_P(Broadcast, ShapeRule, ::testing::Values(
    ShapeCase{"equal", "BinaryOp", {"1x4x4x8", "1x4x4x8"}, {1}, {}, 0, 0, 1, "1x4x4x8"},
    ShapeCase{"pixel_vector", "Add", {"1x4x5x8", "1x1x1x8"}, {}, {}, 0, 0, 1, "1x4x5x8"},
    ShapeCase{"pixel_vector_first", "Add", {"1x1x1x8", "1x4x5x8"}, {}, {}, 0, 0, 1, "1x4x5x8"},
    ShapeCase{"single_channel", "Mul", {"1x4x5x8", "1x4x5x1"}, {}, {}, 0, 0, 1, "1x4x5x8"},
    ShapeCase{"row_and_column", "BinaryOp", {"1x1x5x8", "1x4x1x8"}, {2}, {}, 0, 0, 1, "1x4x5x8"}));

INSTANTIATE_TEST_SUITE_P(Reshape, ShapeRule, ::testing::Values(
    ShapeCase{"flatten_open_c", "Reshape", {"1x2x3x4"}, {1, 1, 1, -1}, {}, 0, 0, 1, "1x1x1x24"},
    ShapeCase{"open_h", "Reshape", {"1x4x4x2"}, {1, -1, 4, 2}, {}, 0, 0, 1, "1x4x4x2"},
    ShapeCase{"zero_is_open", "Reshape", {"1x2x3x4"}, {0, 6, 1, 4}, {}, 0, 0, 1, "1x6x1x4"},
    ShapeCase{"all_given", "Reshape", {"1x2x3x4"}, {2, 3, 2, 2}, {}, 0, 0, 1, "2x3x2x2"}));

// params: trans_a, trans_b; weight rows are n, columns h*w*c.
INSTANTIATE_TEST_SUITE_P(Gemm, ShapeRule, ::testing::Values(
    ShapeCase{"rows_are_outputs", "Gemm", {"1x1x1x16"}, {0, 0}, {"10x1x1x16", "1x1x1x10"}, 1, 1, 1, "1x1x1x10"},
    ShapeCase{"trans_b_columns_are_outputs", "Gemm", {"1x1x1x16"}, {0, 1}, {"16x1x1x10"}, 1, 1, 1, "1x1x1x10"},
    ShapeCase{"column_vector_input", "Gemm", {"1x16x1x1"}, {0, 0}, {"4x1x1x16"}, 1, 1, 1, "1x1x1x4"}));

INSTANTIATE_TEST_SUITE_P(Channels, ShapeRule, ::testing::Values(
    ShapeCase{"concat3", "Concat", {"1x4x4x3", "1x4x4x5", "1x4x4x8"}, {}, {}, 0, 0, 1, "1x4x4x16"},
    ShapeCase{"split2", "Split", {"1x3x3x8"}, {}, {}, 0, 0, 2, "1x3x3x4,1x3x3x4"},
    ShapeCase{"split3", "Split", {"1x3x3x9"}, {}, {}, 0, 0, 3, "1x3x3x3,1x3x3x3,1x3x3x3"},
    ShapeCase{"shuffle_g4", "Shuffle", {"1x2x2x8"}, {4}, {}, 0, 0, 1, "1x2x2x8"},
    ShapeCase{"shufflesplit2_2_to_2", "ShuffleSplit2", {"1x2x2x8", "1x2x2x8"}, {2}, {}, 0, 0, 2, "1x2x2x8,1x2x2x8"},
    ShapeCase{"shufflesplit2_2_to_1", "ShuffleSplit2", {"1x2x2x8", "1x2x2x8"}, {2}, {}, 0, 0, 1, "1x2x2x16"},
    ShapeCase{"shufflesplit2_1_to_1", "ShuffleSplit2", {"1x2x2x8"}, {8}, {}, 0, 0, 1, "1x2x2x8"}));

INSTANTIATE_TEST_SUITE_P(Elementwise, ShapeRule, ::testing::Values(
    ShapeCase{"relu", "Relu", {"1x3x4x5"}, {1}, {}, 0, 0, 1, "1x3x4x5"},
    ShapeCase{"prelu_with_slopes", "Activation", {"1x3x4x5"}, {3}, {"1x1x1x5"}, 0, 0, 1, "1x3x4x5"},
    ShapeCase{"batchnorm", "BatchNormalization", {"2x3x4x5"}, {}, {"1x1x1x5", "1x1x1x5", "1x1x1x5", "1x1x1x5"}, 0, 0, 1, "2x3x4x5"},
    ShapeCase{"softmax", "Softmax", {"1x1x1x3"}, {}, {}, 0, 0, 1, "1x1x1x3"},
    ShapeCase{"normalize_3_to_4", "Normalize", {"1x8x8x3"}, {4}, {}, 0, 0, 1, "1x8x8x4"},
    ShapeCase{"normalize_keeps_channels", "Normalize", {"1x8x8x1"}, {0}, {}, 0, 0, 1, "1x8x8x1"},
    ShapeCase{"pad_each_side", "Pad", {"1x5x6x2"}, {1, 2, 3, 4}, {}, 0, 0, 1, "1x12x9x2"},
    ShapeCase{"resize_rounds_half_away", "Resize", {"1x5x3x4"}, {0}, {}, 1.5f, 0.5f, 1, "1x3x5x4"},
    ShapeCase{"upsample_2x", "Upsample", {"1x3x4x2"}, {1, 1}, {}, 2, 2, 1, "1x6x8x2"},
    ShapeCase{"resize_to_one", "Resize", {"1x5x5x1"}, {0, 1}, {}, 0.2f, 0.2f, 1, "1x1x1x1"},
    ShapeCase{"squeeze", "Squeeze", {"1x2x3x4"}, {}, {}, 0, 0, 1, "1x2x3x4"}));

TEST(SliceShape, StartMinusOneIsNotWrittenBack) {
  Bench b;
  b.Input("in", 1, 4, 4, 4);
  auto* l = dynamic_cast<engine::core::Slice*>(
      b.Add({"Slice", {"in", "out"}, {-1, 0, 0, -1, 0, 0, 0, 4, 2}, {}}));
  ASSERT_NE(l, nullptr);
  ASSERT_TRUE(l->reshape(b.env));
  EXPECT_EQ(l->start[0], -1);
  EXPECT_EQ(l->start[1], -1);
  b.Input("in", 1, 8, 6, 4);  // a later, larger input still means "whole"
  ASSERT_TRUE(l->reshape(b.env));
  EXPECT_EQ(ShapeOf(*l->outputs[0]), "1x8x6x2");
}

TEST(ShapeFacts, ConvFlopsAndLayout) {
  Bench b;
  b.Input("in", 1, 8, 8, 3).layout = engine::kLayoutNhwc;
  b.Weight("w", 16, 3, 3, 3);
  engine::Layer* l = b.Add({"Conv", {"in", "out"}, {3, 3, 1, 1, 1, 1, 1, 1}, {"w"}});
  ASSERT_TRUE(l->reshape(b.env));
  EXPECT_EQ(l->flops, 2 * 432 * 64);
}

TEST(ShapeFacts, GemmNonZeroLayoutPutsLengthInW) {
  Bench b;
  b.Input("in", 1, 1, 1, 16).layout = 3;
  b.Weight("w", 10, 1, 1, 16);
  engine::Layer* l = b.Add({"Gemm", {"in", "out"}, {0, 0}, {"w"}, 1, 1});
  ASSERT_TRUE(l->reshape(b.env));
  EXPECT_EQ(ShapeOf(*l->outputs[0]), "1x1x10x1");
  EXPECT_EQ(l->outputs[0]->layout, 3);
}

TEST(ShapeFacts, ReshapeAndSqueezeGiveLayoutZero) {
  for (const char* type : {"Reshape", "Squeeze"}) {
    Bench b;
    b.Input("in", 1, 2, 2, 2).layout = 5;
    engine::Layer* l = b.Add({type, {"in", "out"}, {1, 1, 1, 8}, {}});
    ASSERT_TRUE(l->reshape(b.env)) << type;
    EXPECT_EQ(l->outputs[0]->layout, 0) << type;
  }
}

}  // namespace
