// The description loader, .npy reading and netrun from the command line.
#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tools/netrun/net_loader.h"
#include "tools/netrun/network.h"
#include "tests/engine/netrun_cli.h"
#include "tools/netrun/npy.h"

namespace {

struct LoaderCase {
  const char* label;
  const char* json;
  const char* error;  // expected text; "" when it loads
};

std::ostream& operator<<(std::ostream& os, const LoaderCase& c) { return os << c.label; }

class Loader : public ::testing::TestWithParam<LoaderCase> {};

TEST_P(Loader, ParseResult) {
  netrun::NetDescription net;
  std::string error;
  const bool ok = netrun::ParseNetDescription(GetParam().json, &net, &error);
  EXPECT_EQ(ok, GetParam().error[0] == '\0');
  EXPECT_EQ(error, GetParam().error);
}

#define NET_INPUT R"("inputs": [{"name": "x", "shape": [1, 4, 4, 3]}])"

INSTANTIATE_TEST_SUITE_P(Descriptions, Loader, ::testing::Values(
    LoaderCase{"minimal", R"({)" NET_INPUT R"(, "layers": [{"type": "Relu", "name": "r", "tensors": ["x", "y"]}]})", ""},
    LoaderCase{"not_json", "{\"inputs\": [", "JSON error at offset 12: Invalid value."},
    LoaderCase{"not_an_object", "[1, 2]", "the description is not a JSON object"},
    LoaderCase{"unknown_top_member", R"({"input": []})", "unknown member \"input\""},
    LoaderCase{"no_layers", R"({)" NET_INPUT R"(})", "no layers"},
    LoaderCase{"layer_without_type", R"({)" NET_INPUT R"(, "layers": [{"name": "r"}]})", "layer 0: no type"},
    LoaderCase{"unknown_layer_member", R"({)" NET_INPUT R"(, "layers": [{"type": "Relu", "name": "r", "param": [1]}]})", "layer 0: unknown member \"param\""},
    LoaderCase{"seventeen_params", R"({)" NET_INPUT R"(, "layers": [{"type": "Conv", "name": "c", "params": [1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1]}]})", "layer 0 (c): bad \"params\""},
    LoaderCase{"param_not_int", R"({)" NET_INPUT R"(, "layers": [{"type": "Conv", "name": "c", "params": [1.5]}]})", "layer 0 (c): bad \"params\""},
    LoaderCase{"nine_tensors", R"({)" NET_INPUT R"(, "layers": [{"type": "Concat", "name": "c", "tensors": ["a","b","c","d","e","f","g","h","i"]}]})", "layer 0 (c): bad \"tensors\""},
    LoaderCase{"empty_tensor_name", R"({)" NET_INPUT R"(, "layers": [{"type": "Relu", "name": "r", "tensors": ["x", ""]}]})", "layer 0 (r): bad \"tensors\""},
    LoaderCase{"unknown_weight", R"({)" NET_INPUT R"(, "layers": [{"type": "Conv", "name": "c", "tensors": ["x", "y"], "weights": ["w"]}]})", "layer c: unknown weight \"w\""},
    LoaderCase{"duplicate_layer_name", R"({)" NET_INPUT R"(, "layers": [{"type": "Relu", "name": "r", "tensors": ["x", "y"]}, {"type": "Relu", "name": "r", "tensors": ["y", "z"]}]})", "layer r: name used twice"},
    LoaderCase{"input_shape_three_dims", R"({"inputs": [{"name": "x", "shape": [4, 4, 3]}], "layers": []})", "input x: bad \"shape\""},
    LoaderCase{"input_type_unknown", R"({"inputs": [{"name": "x", "type": "f16"}], "layers": []})", "input x: bad \"type\""},
    LoaderCase{"weight_without_file", R"({"weights": {"w": {"shape": [1, 1, 1, 1]}}})", "weight w: needs a \"file\""}));

TEST(Loader, ActivationKindDefaultsPerType) {
  netrun::NetDescription net;
  std::string error;
  ASSERT_TRUE(netrun::ParseNetDescription(
      R"({)" NET_INPUT R"(, "layers": [
        {"type": "Relu", "name": "a", "tensors": ["x", "x"]},
        {"type": "Sigmoid", "name": "b", "tensors": ["x", "x"]},
        {"type": "LeakyRelu", "name": "c", "tensors": ["x", "x"]},
        {"type": "Relu", "name": "d", "tensors": ["x", "x"], "params": [0]},
        {"type": "LeakyRelu", "name": "e", "tensors": ["x", "x"], "alpha": 0.2}]})",
      &net, &error))
      << error;
  EXPECT_EQ(net.layers[0].params[0], 1);
  EXPECT_EQ(net.layers[1].params[0], 5);
  EXPECT_EQ(net.layers[2].params[0], 6);
  EXPECT_EQ(net.layers[3].params[0], 0);  // given params are kept
  EXPECT_FLOAT_EQ(net.layers[2].alpha, 0.01f);  // ONNX's default slope
  EXPECT_FLOAT_EQ(net.layers[4].alpha, 0.2f);
}

TEST(Loader, GemmFactorsDefaultToOne) {
  netrun::NetDescription net;
  std::string error;
  ASSERT_TRUE(netrun::ParseNetDescription(
      R"({)" NET_INPUT R"(, "layers": [
        {"type": "Gemm", "name": "a", "tensors": ["x", "y"]},
        {"type": "Gemm", "name": "b", "tensors": ["x", "z"], "alpha": 0.5, "beta": 0}]})",
      &net, &error))
      << error;
  EXPECT_EQ(net.layers[0].alpha, 1.f);
  EXPECT_EQ(net.layers[0].beta, 1.f);
  EXPECT_EQ(net.layers[1].alpha, 0.5f);
  EXPECT_EQ(net.layers[1].beta, 0.f);
}

std::string NpyBytes(const std::string& descr_and_more, const std::string& data) {
  std::string header = "{" + descr_and_more + "}";
  header.append((64 - (10 + header.size() + 1) % 64) % 64, ' ');
  header += '\n';
  std::string out = std::string("\x93NUMPY\x01\x00", 8);
  out += static_cast<char>(header.size() & 0xFF);
  out += static_cast<char>(header.size() >> 8);
  return out + header + data;
}

struct NpyCase {
  const char* label;
  std::string bytes;
  const char* error;  // "" when valid
};

std::ostream& operator<<(std::ostream& os, const NpyCase& c) { return os << c.label; }

class Npy : public ::testing::TestWithParam<NpyCase> {};

TEST_P(Npy, Parse) {
  netrun::NpyArray a;
  std::string error;
  const std::string& b = GetParam().bytes;
  netrun::ParseNpy(reinterpret_cast<const uint8_t*>(b.data()), b.size(), &a, &error);
  EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Files, Npy, ::testing::Values(
    NpyCase{"float_2x2", NpyBytes("'descr': '<f4', 'fortran_order': False, 'shape': (2, 2), ", std::string(16, '\0')), ""},
    NpyCase{"u8_vector", NpyBytes("'descr': '|u1', 'fortran_order': False, 'shape': (3,), ", "abc"), ""},
    NpyCase{"short_data", NpyBytes("'descr': '<f4', 'fortran_order': False, 'shape': (2, 2), ", std::string(15, '\0')), ".npy data size disagrees with its shape"},
    NpyCase{"float64", NpyBytes("'descr': '<f8', 'fortran_order': False, 'shape': (1,), ", std::string(8, '\0')), ".npy data type is neither float32 ('<f4') nor uint8 ('|u1')"},
    NpyCase{"fortran", NpyBytes("'descr': '<f4', 'fortran_order': True, 'shape': (1,), ", std::string(4, '\0')), ".npy array is not in C order"},
    NpyCase{"shape_garbage", NpyBytes("'descr': '<f4', 'fortran_order': False, 'shape': (a), ", ""), ".npy shape unreadable"},
    NpyCase{"shape_overflow", NpyBytes("'descr': '<f4', 'fortran_order': False, 'shape': (99999999999,), ", ""), ".npy shape unreadable"},
    NpyCase{"product_overflow", NpyBytes("'descr': '<f4', 'fortran_order': False, 'shape': (65536, 65536), ", ""), ".npy array too large"},
    NpyCase{"header_past_end", std::string("\x93NUMPY\x01\x00\xff\x7f{", 11), "truncated .npy header"},
    NpyCase{"not_npy", std::string("PK\x03\x04 archive"), "not an .npy file"}));

TEST(Npy, WrittenFileReadsBack) {
  const std::string path = testing::TempDir() + "/netrun_roundtrip_" + std::to_string(getpid()) + ".npy";
  const float v[6] = {1.f, -2.f, 3.5f, 0.f, 1e-3f, 65504.f};
  std::string error;
  ASSERT_TRUE(netrun::WriteNpy(path, {1, 2, 3}, v, &error)) << error;
  netrun::NpyArray a;
  ASSERT_TRUE(netrun::ReadNpy(path, &a, &error)) << error;
  EXPECT_EQ(a.shape, (std::vector<int64_t>{1, 2, 3}));
  EXPECT_EQ(a.f32, std::vector<float>(v, v + 6));
  std::remove(path.c_str());
}

using netruntest::Netrun;
using netruntest::Outcome;

struct ExampleCase {
  const char* file;
  const char* last_line;  // the last layer's printed line
};

std::ostream& operator<<(std::ostream& os, const ExampleCase& c) { return os << c.file; }

class Example : public ::testing::TestWithParam<ExampleCase> {};

TEST_P(Example, PrintsLayerShapes) {
  const Outcome o = Netrun(std::string(OXRIN_EXAMPLES_DIR) + "/" + GetParam().file);
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_NE(o.output.find(GetParam().last_line), std::string::npos) << o.output;
}

INSTANTIATE_TEST_SUITE_P(Examples, Example, ::testing::Values(
    ExampleCase{"classifier.json", "  prob                 Softmax            prob 1x1x1x10\n"},
    ExampleCase{"segmenter.json", "  mask                 Sigmoid            mask 1x24x32x1\n"},
    ExampleCase{"mobile_block.json", "  out                  Squeeze            out 1x32x28x8\n"}));

struct FaultCase {
  const char* label;
  const char* json;
  const char* message;  // expected on standard error after "netrun: FILE: "
};

std::ostream& operator<<(std::ostream& os, const FaultCase& c) { return os << c.label; }

class NetrunFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(NetrunFault, ExitTwoNamingTheLayer) {
  // Per process and case: ctest runs these concurrently.
  const std::string path = testing::TempDir() + "/netrun_fault_" + std::to_string(getpid()) + "_" +
                           GetParam().label + ".json";
  std::ofstream(path) << GetParam().json;
  const Outcome o = Netrun(path);
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.output.find(GetParam().message), std::string::npos) << o.output;
  std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Faults, NetrunFault, ::testing::Values(
    FaultCase{"unknown_type", R"({)" NET_INPUT R"(, "layers": [{"type": "Swish", "name": "s1", "tensors": ["x", "y"]}]})", "layer s1 (Swish): unknown layer type"},
    FaultCase{"missing_tensor", R"({)" NET_INPUT R"(, "layers": [{"type": "Add", "name": "sum", "tensors": ["x", "nowhere", "y"]}]})", "layer sum (Add): tensor nowhere is neither a network input nor made by an earlier layer"},
    // A second writer would reshape the tensor after its first writer had
    // fixed its shape, and that writer would then run on the other shape.
    FaultCase{"tensor_made_twice", R"({)" NET_INPUT R"(, "layers": [{"type": "Relu", "name": "r1", "tensors": ["x", "y"]}, {"type": "Sigmoid", "name": "s2", "tensors": ["x", "y"]}]})", "layer s2 (Sigmoid): tensor y is a network input or made by an earlier layer already"},
    FaultCase{"single_tensor", R"({)" NET_INPUT R"(, "layers": [{"type": "Relu", "name": "r", "tensors": ["x"]}]})", "layer r (Relu): needs an input and an output tensor"},
    FaultCase{"shape_mismatch", R"({)" NET_INPUT R"(, "layers": [{"type": "Split", "name": "halves", "tensors": ["x", "a", "b"]}]})", "layer halves (Split): output shape cannot be formed: outputs do not divide the channels"},
    FaultCase{"malformed", "{\"layers\": [}", "JSON error at offset 12"},
    FaultCase{"batchnorm_without_weights", R"({)" NET_INPUT R"(, "layers": [{"type": "BatchNormalization", "name": "bn", "tensors": ["x", "y"]}]})", "layer bn (BatchNormalization): output shape cannot be formed: needs four weights of one value per channel"},
    FaultCase{"concat_one_input", R"({)" NET_INPUT R"(, "layers": [{"type": "Concat", "name": "cat", "tensors": ["x", "y"]}]})", "layer cat (Concat): output shape cannot be formed: needs at least two inputs"},
    FaultCase{"pad_in_place", R"({)" NET_INPUT R"(, "layers": [{"type": "Pad", "name": "p", "params": [1, 1, 1, 1], "tensors": ["x", "x"]}]})", "layer p (Pad): output shape cannot be formed: an input is also an output"},
    FaultCase{"gemm_without_weight", R"({)" NET_INPUT R"(, "layers": [{"type": "Gemm", "name": "fc", "tensors": ["x", "y"]}]})", "layer fc (Gemm): output shape cannot be formed: weight tensor missing"},
    FaultCase{"missing_weight_file", R"({)" NET_INPUT R"(, "weights": {"w": {"file": "absent.npy"}}, "layers": [{"type": "Conv", "name": "c", "tensors": ["x", "y"], "weights": ["w"]}]})", "weight w: cannot open"}));

TEST(NetrunCli, RunWithoutInputValuesExitsThree) {
  const std::string path = testing::TempDir() + "/netrun_novalues_" + std::to_string(getpid()) + ".json";
  std::ofstream(path) << R"({)" NET_INPUT R"(, "layers": [{"type": "Softmax", "name": "sm", "tensors": ["x", "y"]}]})";
  const Outcome o = Netrun(path + " --device cpu --output " + path + ".npy");
  EXPECT_EQ(o.status, 3);
  EXPECT_NE(o.output.find("layer sm (Softmax): run failed: an input holds no values"), std::string::npos) << o.output;
  std::remove(path.c_str());
}

TEST(NetrunCli, BadArgumentsExitOne) {
  EXPECT_EQ(Netrun("").status, 1);
  EXPECT_EQ(Netrun("a.json --device gpu").status, 1);
}

TEST(NetrunCli, DeclaredWeightShapeMustMatchFile) {
  const std::string dir = testing::TempDir() + "/netrun_shape_" + std::to_string(getpid());
  ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
  const float v[4] = {1, 2, 3, 4};
  std::string error;
  ASSERT_TRUE(netrun::WriteNpy(dir + "/w4.npy", {4}, v, &error));
  std::ofstream(dir + "/wshape.json")
      << R"({"inputs": [{"name": "x", "shape": [1, 2, 2, 4]}],
             "weights": {"w": {"file": "w4.npy", "shape": [2, 1, 1, 2]}},
             "layers": [{"type": "Conv", "name": "c", "params": [1, 1, 0, 0, 0, 0, 1, 1],
                         "tensors": ["x", "y"], "weights": ["w"]}]})";
  const Outcome o = Netrun(dir + "/wshape.json");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.output.find("weight w: file shape disagrees with the declared shape"),
            std::string::npos)
      << o.output;
}

}  // namespace
