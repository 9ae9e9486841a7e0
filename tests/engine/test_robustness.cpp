// Descriptions whose shapes cannot be formed: reshape answers false with
// its reason and never divides by zero or reaches an allocation with an
// empty or negative extent.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "tests/engine/engine_test_util.h"

namespace {

using enginetest::ShapeCase;
using enginetest::Shapes;

class ShapeFault : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ShapeFault, ReshapeFalse) { EXPECT_EQ(Shapes(GetParam()), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Faults, ShapeFault, ::testing::Values(
    ShapeCase{"conv_stride0", "Conv", {"1x8x8x3"}, {3, 3, 1, 1, 1, 1, 0, 1}, {"4x3x3x3"}, 0, 0, 1, "false: stride below 1"},
    ShapeCase{"pool_stride_negative", "MaxPool", {"1x8x8x3"}, {2, 2, 0, 0, 0, 0, 2, -2}, {}, 0, 0, 1, "false: stride below 1"},
    ShapeCase{"deconv_stride0", "ConvTranspose", {"1x4x4x2"}, {2, 2, 0, 0, 0, 0, 0, 0}, {"2x2x2x2"}, 0, 0, 1, "false: stride below 1"},
    ShapeCase{"conv_kernel_over_padded_input", "Conv", {"1x4x4x1"}, {7, 7, 1, 1, 1, 1, 1, 1}, {"1x7x7x1"}, 0, 0, 1, "false: kernel larger than the padded input"},
    ShapeCase{"pool_dilated_window_too_large", "AveragePool", {"1x4x4x1"}, {3, 3, 0, 0, 0, 0, 1, 1, 2, 2}, {}, 0, 0, 1, "false: kernel larger than the padded input"},
    ShapeCase{"pool_kernel0", "MaxPool", {"1x4x4x1"}, {0, 0, 0, 0, 0, 0, 1, 1}, {}, 0, 0, 1, "false: kernel below 1"},
    ShapeCase{"conv_negative_pad", "Conv", {"1x8x8x1"}, {3, 3, -1, 0, 0, 0, 1, 1}, {"1x3x3x1"}, 0, 0, 1, "false: negative padding"},
    ShapeCase{"pad_negative", "Pad", {"1x8x8x1"}, {0, 0, -3, 0}, {}, 0, 0, 1, "false: negative padding"},
    ShapeCase{"deconv_negative_pad", "ConvTranspose", {"1x4x4x2"}, {2, 2, 0, -1, 0, 0, 2, 2}, {"2x2x2x2"}, 0, 0, 1, "false: negative padding"},
    ShapeCase{"deconv_pads_eat_output", "ConvTranspose", {"1x1x1x2"}, {2, 2, 1, 1, 1, 1, 1, 1}, {"2x2x2x2"}, 0, 0, 1, "false: kernel larger than the padded input"},
    ShapeCase{"deconv_wanted_too_large", "ConvTranspose", {"1x4x4x2"}, {2, 2, 0, 0, 0, 0, 2, 2, 1, 1, 0, 9, 0}, {"2x2x2x2"}, 0, 0, 1, "false: wanted output extent cannot be formed"},
    ShapeCase{"deconv_wanted_negative", "ConvTranspose", {"1x4x4x2"}, {2, 2, 0, 0, 0, 0, 2, 2, 1, 1, 0, 0, -4}, {"2x2x2x2"}, 0, 0, 1, "false: wanted output extent cannot be formed"},
    ShapeCase{"reshape_count_differs", "Reshape", {"1x2x3x4"}, {1, 5, 1, 5}, {}, 0, 0, 1, "false: element count differs"},
    ShapeCase{"reshape_open_not_dividing", "Reshape", {"1x2x3x4"}, {1, 5, -1, 1}, {}, 0, 0, 1, "false: element count differs"},
    ShapeCase{"reshape_two_open", "Reshape", {"1x2x3x4"}, {1, -1, 0, 4}, {}, 0, 0, 1, "false: more than one open dimension"},
    ShapeCase{"concat_h_disagrees", "Concat", {"1x4x4x3", "1x5x4x3"}, {}, {}, 0, 0, 1, "false: inputs disagree in n, h or w"},
    ShapeCase{"concat_n_disagrees", "Concat", {"1x4x4x3", "2x4x4x3"}, {}, {}, 0, 0, 1, "false: inputs disagree in n, h or w"},
    ShapeCase{"concat_one_input", "Concat", {"1x4x4x3"}, {}, {}, 0, 0, 1, "false: needs at least two inputs"},
    ShapeCase{"split_not_dividing", "Split", {"1x2x2x7"}, {}, {}, 0, 0, 2, "false: outputs do not divide the channels"},
    ShapeCase{"shuffle_not_dividing", "Shuffle", {"1x2x2x6"}, {4}, {}, 0, 0, 1, "false: group count does not divide the channels"},
    ShapeCase{"shuffle_groups0", "Shuffle", {"1x2x2x6"}, {0}, {}, 0, 0, 1, "false: group count does not divide the channels"},
    ShapeCase{"shufflesplit2_odd_total", "ShuffleSplit2", {"1x2x2x3", "1x2x2x4"}, {7}, {}, 0, 0, 2, "false: group count does not divide the channels"},
    ShapeCase{"slice_step0", "Slice", {"1x4x4x4"}, {0, 4, 0, -1, 0, 0, -1, 0, 0}, {}, 0, 0, 1, "false: slice step below 1"},
    ShapeCase{"slice_start_past_end", "Slice", {"1x4x4x4"}, {4, 9, 1, -1, 0, 0, -1, 0, 0}, {}, 0, 0, 1, "false: slice range empty or outside the input"},
    ShapeCase{"slice_negative_start", "Slice", {"1x4x4x4"}, {-2, 3, 1, -1, 0, 0, -1, 0, 0}, {}, 0, 0, 1, "false: slice range empty or outside the input"},
    ShapeCase{"conv_weight_kernel_mismatch", "Conv", {"1x8x8x3"}, {3, 3, 1, 1, 1, 1, 1, 1}, {"4x5x5x3"}, 0, 0, 1, "false: weight dimensions disagree with the layer"},
    ShapeCase{"conv_weight_channels_mismatch", "Conv", {"1x8x8x3"}, {3, 3, 1, 1, 1, 1, 1, 1}, {"4x3x3x4"}, 0, 0, 1, "false: weight dimensions disagree with the layer"},
    ShapeCase{"depthwise_weight_channels_mismatch", "DepthwiseConv", {"1x8x8x6"}, {3, 3, 1, 1, 1, 1, 1, 1}, {"4x3x3x1"}, 0, 0, 1, "false: weight dimensions disagree with the layer"},
    ShapeCase{"deconv_weight_channels_mismatch", "ConvTranspose", {"1x4x4x3"}, {2, 2, 0, 0, 0, 0, 2, 2}, {"2x2x2x5"}, 0, 0, 1, "false: weight dimensions disagree with the layer"},
    ShapeCase{"conv_without_weight", "Conv", {"1x8x8x3"}, {3, 3, 1, 1, 1, 1, 1, 1}, {}, 0, 0, 1, "false: weight tensor missing"},
    ShapeCase{"conv_bias_too_small", "Conv", {"1x8x8x3"}, {1, 1, 0, 0, 0, 0, 1, 1}, {"4x1x1x3", "1x1x1x3"}, 0, 0, 1, "false: bias smaller than the output channels"},
    ShapeCase{"gemm_extents_disagree", "Gemm", {"1x1x1x16"}, {0, 0}, {"10x1x1x12"}, 1, 1, 1, "false: weight extents disagree with the input"},
    ShapeCase{"gemm_input_not_vector", "Gemm", {"1x4x4x16"}, {0, 0}, {"10x1x1x256"}, 1, 1, 1, "false: input is not a vector"},
    ShapeCase{"gemm_without_weight", "Gemm", {"1x1x1x16"}, {0, 0}, {}, 1, 1, 1, "false: weight tensor missing"},
    ShapeCase{"prelu_without_slopes", "Activation", {"1x4x4x8"}, {3}, {}, 0, 0, 1, "false: slopes missing or fewer than the channels"},
    ShapeCase{"prelu_too_few_slopes", "Activation", {"1x4x4x8"}, {3}, {"1x1x1x4"}, 0, 0, 1, "false: slopes missing or fewer than the channels"},
    ShapeCase{"batchnorm_three_weights", "BatchNormalization", {"1x4x4x8"}, {}, {"1x1x1x8", "1x1x1x8", "1x1x1x8"}, 0, 0, 1, "false: needs four weights of one value per channel"},
    ShapeCase{"batchnorm_short_weight", "BatchNormalization", {"1x4x4x8"}, {}, {"1x1x1x8", "1x1x1x8", "1x1x1x8", "1x1x1x7"}, 0, 0, 1, "false: needs four weights of one value per channel"},
    ShapeCase{"broadcast_3_vs_4", "Add", {"1x4x4x3", "1x4x4x4"}, {}, {}, 0, 0, 1, "false: input extents neither equal nor 1"},
    ShapeCase{"broadcast_h_2_vs_4", "Mul", {"1x4x4x8", "1x2x4x8"}, {}, {}, 0, 0, 1, "false: input extents neither equal nor 1"},
    ShapeCase{"broadcast_n_of_second", "BinaryOp", {"1x4x4x8", "2x4x4x8"}, {0}, {}, 0, 0, 1, "false: input extents neither equal nor 1"},
    ShapeCase{"binaryop_op3", "BinaryOp", {"1x4x4x8", "1x4x4x8"}, {3}, {}, 0, 0, 1, "false: unknown operation"},
    ShapeCase{"binaryop_one_input", "BinaryOp", {"1x4x4x8"}, {0}, {}, 0, 0, 1, "false: a tensor is missing"},
    ShapeCase{"resize_mode2", "Resize", {"1x4x4x4"}, {2}, {}, 2, 2, 1, "false: unknown resize mode"},
    ShapeCase{"resize_scale0", "Resize", {"1x4x4x4"}, {0}, {}, 0, 2, 1, "false: output extent below 1 or too large"},
    ShapeCase{"resize_scale_nan", "Upsample", {"1x4x4x4"}, {0}, {}, NAN, 2, 1, "false: output extent below 1 or too large"},
    ShapeCase{"resize_scale_huge", "Resize", {"1x4x4x4"}, {0}, {}, 1e30f, 1e30f, 1, "false: output extent below 1 or too large"},
    ShapeCase{"pad_overflows", "Pad", {"1x4x4x4"}, {INT_MAX, INT_MAX, 0, 0}, {}, 0, 0, 1, "false: output extent below 1 or too large"},
    ShapeCase{"conv_extreme_params", "Conv", {"1x4x4x1"}, {1, 1, INT_MAX, INT_MAX, INT_MAX, INT_MAX, 1, 1}, {"1x1x1x1"}, 0, 0, 1, "false: output extent below 1 or too large"},
    ShapeCase{"conv_extreme_dilation", "Conv", {"1x4x4x1"}, {INT_MAX, 2, 0, 0, 0, 0, 1, 1, INT_MAX, 1}, {"1x2x2147483647x1"}, 0, 0, 1, "false: kernel larger than the padded input"},
    ShapeCase{"normalize_four_in", "Normalize", {"1x4x4x4"}, {4}, {}, 0, 0, 1, "false: input 1 to 3 channels, output up to 4"},
    ShapeCase{"input_without_shape", "Softmax", {"0x0x0x0"}, {}, {}, 0, 0, 1, "false: an input has no shape"},
    ShapeCase{"one_tensor_entry_binds_nothing", "Relu", {"1x4x4x4"}, {1}, {}, 0, 0, 0, "false: a tensor is missing"}));

}  // namespace
