// ONNX models through netrun: damaged or unmappable models are refused with
// exit code 2 and one line naming the node, and the places where ONNX's
// NCHW meets the engine's NHWC (a flatten before a Gemm, a channel shuffle,
// a channel concat with a constant) give the values ONNX defines.  The
// models are encoded here, field by field, from onnx.proto's numbering.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "tests/common/doc_text.h"
#include "tests/engine/netrun_cli.h"
#include "tools/netrun/onnx_import.h"
#include "tools/netrun/npy.h"

namespace {

using Dims = std::vector<int64_t>;

// ---- protobuf wire encoding ----------------------------------------------

std::string Varint(uint64_t v) {
  std::string s;
  do {
    s += static_cast<char>((v & 0x7F) | (v > 0x7F ? 0x80 : 0));
    v >>= 7;
  } while (v != 0);
  return s;
}

std::string Int(int field, int64_t v) { return Varint(field << 3) + Varint(static_cast<uint64_t>(v)); }

std::string Bytes(int field, const std::string& b) {
  return Varint(field << 3 | 2) + Varint(b.size()) + b;
}

// TensorProto: dims 1, data_type 2, name 8, raw_data 9.
std::string Tensor(const std::string& name, const Dims& dims, const std::vector<float>& v,
                   int type = 1) {
  std::string t;
  for (int64_t d : dims) t += Int(1, d);
  t += Int(2, type) + Bytes(8, name);
  std::string raw(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(float));
  if (type == 11) raw += raw;  // doubles: twice the bytes
  return t + Bytes(9, raw);
}

// ValueInfoProto: name 1, type 2 { tensor_type 1 { elem_type 1, shape 2 { dim 1 { dim_value 1 }}}}.
std::string Value(const std::string& name, const Dims& dims) {
  std::string shape;
  for (int64_t d : dims) shape += Bytes(1, Int(1, d));
  return Bytes(1, name) + Bytes(2, Bytes(1, Int(1, 1) + Bytes(2, shape)));
}

// AttributeProto: name 1, i 3, s 4, ints 8, type 20.
std::string AttrInt(const std::string& name, int64_t v) { return Bytes(1, name) + Int(3, v) + Int(20, 2); }
std::string AttrText(const std::string& name, const std::string& s) {
  return Bytes(1, name) + Bytes(4, s) + Int(20, 3);
}

// NodeProto: input 1, output 2, name 3, op_type 4, attribute 5.
std::string Node(const std::string& op, const std::string& name, const std::vector<std::string>& in,
                 const std::vector<std::string>& out, const std::vector<std::string>& attrs = {}) {
  std::string n;
  for (const std::string& s : in) n += Bytes(1, s);
  for (const std::string& s : out) n += Bytes(2, s);
  n += Bytes(3, name) + Bytes(4, op);
  for (const std::string& a : attrs) n += Bytes(5, a);
  return n;
}

struct Graph {
  std::vector<std::string> nodes, initializers, inputs, outputs;
};

// ModelProto: ir_version 1, opset_import 8 { version 2 }, graph 7 { node 1,
// name 2, initializer 5, input 11, output 12 }.
std::string Model(const Graph& g, int opset = 13) {
  std::string body;
  for (const std::string& s : g.nodes) body += Bytes(1, s);
  body += Bytes(2, "g");
  for (const std::string& s : g.initializers) body += Bytes(5, s);
  for (const std::string& s : g.inputs) body += Bytes(11, s);
  for (const std::string& s : g.outputs) body += Bytes(12, s);
  return Int(1, 8) + Bytes(8, Int(2, opset)) + Bytes(7, body);
}

std::string Int64Tensor(const std::string& name, const std::vector<int64_t>& v) {
  std::string t = Int(1, static_cast<int64_t>(v.size())) + Int(2, 7) + Bytes(8, name);
  return t + Bytes(9, std::string(reinterpret_cast<const char*>(v.data()), v.size() * 8));
}

std::string WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = ::testing::TempDir() + "onnx_import_" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string WriteArray(const std::string& name, const Dims& dims, const std::vector<float>& v) {
  const std::string path = ::testing::TempDir() + "onnx_import_" + name + ".npy";
  std::string error;
  EXPECT_TRUE(netrun::WriteNpy(path, dims, v.data(), &error)) << error;
  return path;
}

std::vector<float> Ramp(size_t n, float scale = 1.f) {
  std::vector<float> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<float>(i) * scale;
  return v;
}

std::string ReluModel() {
  return Model({{Node("Relu", "r", {"x"}, {"y"})}, {}, {Value("x", {1, 3, 4, 4})}, {Value("y", {1, 3, 4, 4})}});
}

// ---- refusals -------------------------------------------------------------

struct Refusal {
  const char* label;
  std::string (*model)();
  Dims array;             // an input array of this shape, when not empty
  const char* expected;   // part of the one line netrun prints
};

std::ostream& operator<<(std::ostream& os, const Refusal& r) { return os << r.label; }

class OnnxRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(OnnxRefusal, ExitsTwoWithOneLineNamingTheCause) {
  const Refusal& r = GetParam();
  const std::string model = WriteFile(std::string(r.label) + ".onnx", r.model());
  std::string args = model;
  if (!r.array.empty()) {
    size_t n = 1;
    for (int64_t d : r.array) n *= static_cast<size_t>(d);
    args += " --input " + WriteArray(r.label, r.array, Ramp(n));
  }
  const netruntest::Outcome o = netruntest::Netrun(args + " --output " + ::testing::TempDir() + "unused.npy");
  EXPECT_EQ(o.status, 2) << o.output;
  EXPECT_EQ(o.output.rfind("netrun: " + model + ": ", 0), 0u) << o.output;
  EXPECT_EQ(o.output.find('\n'), o.output.size() - 1) << o.output;
  EXPECT_NE(o.output.find(r.expected), std::string::npos) << o.output;
}

INSTANTIATE_TEST_SUITE_P(Models, OnnxRefusal, ::testing::Values(
    Refusal{"truncated", [] { const std::string m = ReluModel(); return m.substr(0, m.size() / 2); }, {},
            "truncated"},
    Refusal{"garbage", [] { return std::string("not a model at all"); }, {}, "malformed field"},
    Refusal{"empty", [] { return std::string(); }, {}, "empty file"},
    Refusal{"unknown_op", [] {
              return Model({{Node("Frobnicate", "frob", {"x"}, {"y"})}, {}, {Value("x", {1, 3, 4, 4})}, {Value("y", {1, 3, 4, 4})}});
            }, {}, "node frob (Frobnicate): operator not supported"},
    Refusal{"missing_initializer", [] {
              return Model({{Node("Conv", "conv", {"x", "W"}, {"y"})}, {}, {Value("x", {1, 3, 4, 4})}, {Value("y", {1, 2, 4, 4})}});
            }, {}, "node conv (Conv): input 'W' is neither"},
    Refusal{"input_shape_mismatch", ReluModel, {1, 3, 5, 5},
            "input x: array shape 1x3x5x5 disagrees with the declared 1x3x4x4"},
    Refusal{"unknown_attribute", [] {
              return Model({{Node("Relu", "r", {"x"}, {"y"}, {AttrInt("frobs", 2)})}, {}, {Value("x", {1, 3, 4, 4})}, {Value("y", {1, 3, 4, 4})}});
            }, {}, "node r (Relu): attribute frobs is not supported"},
    Refusal{"pad_reflect", [] {
              return Model({{Node("Pad", "p", {"x", "pads"}, {"y"}, {AttrText("mode", "reflect")})},
                            {Int64Tensor("pads", {0, 0, 1, 1, 0, 0, 1, 1})}, {Value("x", {1, 3, 4, 4})}, {Value("y", {1, 3, 6, 6})}});
            }, {}, "node p (Pad): pad mode reflect is not supported"},
    Refusal{"grouped_conv", [] {
              return Model({{Node("Conv", "conv", {"x", "W"}, {"y"}, {AttrInt("group", 2)})},
                            {Tensor("W", {2, 2, 1, 1}, Ramp(4))}, {Value("x", {1, 4, 4, 4})}, {Value("y", {1, 2, 4, 4})}});
            }, {}, "node conv (Conv): grouped convolution with 2 groups"},
    Refusal{"double_weight", [] {
              return Model({{Node("Conv", "conv", {"x", "W"}, {"y"})},
                            {Tensor("W", {2, 3, 1, 1}, Ramp(6), 11)}, {Value("x", {1, 3, 4, 4})}, {Value("y", {1, 2, 4, 4})}});
            }, {}, "tensor 'W': element type 11 is not supported"},
    Refusal{"concat_of_flattened", [] {
              return Model({{Node("Flatten", "f", {"x"}, {"fx"}), Node("Concat", "cat", {"fx", "fx"}, {"y"}, {AttrInt("axis", 1)})},
                            {}, {Value("x", {1, 2, 2, 2})}, {Value("y", {1, 16})}});
            }, {}, "node cat (Concat): a value of shape 1x8 is held in an order"},
    Refusal{"concat_along_height", [] {
              return Model({{Node("Concat", "cat", {"x", "x"}, {"y"}, {AttrInt("axis", 2)})},
                            {}, {Value("x", {1, 2, 2, 2})}, {Value("y", {1, 2, 4, 2})}});
            }, {}, "node cat (Concat): concatenation along axis 2"}),
    [](const ::testing::TestParamInfo<Refusal>& i) { return std::string(i.param.label); });

// ---- layouts --------------------------------------------------------------

struct Layout {
  const char* label;
  std::string (*model)();
  Dims input;                  // x holds 0, 1, 2, ... in NCHW order
  Dims output;
  std::vector<float> expected;  // y in NCHW order
};

std::ostream& operator<<(std::ostream& os, const Layout& l) { return os << l.label; }

class OnnxLayout : public ::testing::TestWithParam<Layout> {};

TEST_P(OnnxLayout, MatchesTheOnnxDefinition) {
  const Layout& l = GetParam();
  const std::string model = WriteFile(std::string(l.label) + ".onnx", l.model());
  size_t n = 1;
  for (int64_t d : l.input) n *= static_cast<size_t>(d);
  const std::string in = WriteArray(std::string(l.label) + "_x", l.input, Ramp(n));
  const std::string out = ::testing::TempDir() + "onnx_import_" + l.label + "_y.npy";
  const netruntest::Outcome o = netruntest::Netrun(model + " --input x=" + in + " --output y=" + out);
  ASSERT_EQ(o.status, 0) << o.output;
  netrun::NpyArray y;
  std::string error;
  ASSERT_TRUE(netrun::ReadNpy(out, &y, &error)) << error;
  EXPECT_EQ(y.shape, l.output);
  ASSERT_EQ(y.f32.size(), l.expected.size());
  for (size_t i = 0; i < y.f32.size(); ++i) EXPECT_NEAR(y.f32[i], l.expected[i], 1e-5f) << "value " << i;
}

// A Gemm after flattening [1, 2, 2, 3]: row 0 picks element (c0, h0, w1),
// row 1 element (c1, h0, w0) of the NCHW order, plus a bias of 0.5.
std::string FlattenGemm() {
  std::vector<float> w(2 * 12, 0.f);
  w[1] = 1.f;
  w[12 + 6] = 1.f;
  return Model({{Node("Flatten", "f", {"x"}, {"fx"}), Node("Gemm", "fc", {"fx", "W", "B"}, {"y"}, {AttrInt("transB", 1)})},
                {Tensor("W", {2, 12}, w), Tensor("B", {2}, {0.5f, 0.5f})},
                {Value("x", {1, 2, 2, 3})}, {Value("y", {1, 2})}});
}

// Reshape [1, 6, 1, 2] -> [1, 3, 2, 1, 2], swap axes 1 and 2, reshape back:
// three groups of two channels.
std::string ChannelShuffle() {
  return Model({{Node("Reshape", "r1", {"x", "s5"}, {"a"}), Node("Transpose", "t", {"a"}, {"b"}, {Bytes(1, "perm") + Int(8, 0) + Int(8, 2) + Int(8, 1) + Int(8, 3) + Int(8, 4) + Int(20, 7)}),
                 Node("Reshape", "r2", {"b", "s4"}, {"y"})},
                {Int64Tensor("s5", {1, 3, 2, 1, 2}), Int64Tensor("s4", {1, 6, 1, 2})},
                {Value("x", {1, 6, 1, 2})}, {Value("y", {1, 6, 1, 2})}});
}

// x [1, 2, 1, 2] joined along the channels with a constant [1, 1, 1, 2].
std::string ConcatConstant() {
  return Model({{Node("Concat", "cat", {"x", "k"}, {"y"}, {AttrInt("axis", 1)})},
                {Tensor("k", {1, 1, 1, 2}, {9.f, 8.f})}, {Value("x", {1, 2, 1, 2})}, {Value("y", {1, 3, 1, 2})}});
}

// Flatten, then back to NCHW: the values come out unchanged.
std::string FlattenRoundTrip() {
  return Model({{Node("Flatten", "f", {"x"}, {"fx"}), Node("Relu", "r", {"fx"}, {"rx"}),
                 Node("Reshape", "back", {"rx", "s"}, {"y"})},
                {Int64Tensor("s", {1, 2, 2, 3})}, {Value("x", {1, 2, 2, 3})}, {Value("y", {1, 2, 2, 3})}});
}

INSTANTIATE_TEST_SUITE_P(Models, OnnxLayout, ::testing::Values(
    Layout{"flatten_gemm", FlattenGemm, {1, 2, 2, 3}, {1, 2}, {1.5f, 6.5f}},
    Layout{"channel_shuffle", ChannelShuffle, {1, 6, 1, 2}, {1, 6, 1, 2},
           {0, 1, 4, 5, 8, 9, 2, 3, 6, 7, 10, 11}},
    Layout{"concat_constant", ConcatConstant, {1, 2, 1, 2}, {1, 3, 1, 2}, {0, 1, 2, 3, 9, 8}},
    Layout{"flatten_round_trip", FlattenRoundTrip, {1, 2, 2, 3}, {1, 2, 2, 3},
           {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}),
    [](const ::testing::TestParamInfo<Layout>& i) { return std::string(i.param.label); });

}  // namespace

// README.md lists every operator of the import table, in table order,
// the constants-only ones after the others.
TEST(OnnxOperators, ReadmeListsTheImportTable) {
  const std::string readme = testutil::ReadCollapsed(OXRIN_README_PATH);
  const size_t list = readme.find("Operators mapped:");
  ASSERT_NE(list, std::string::npos);
  std::vector<std::string> names;
  for (bool constants : {false, true})
    for (const netrun::OnnxOperator& op : netrun::OnnxSupportedOperators())
      if (op.constants_only == constants) names.push_back("`" + op.name + "`");
  for (const std::string& name : testutil::MissingInOrder(readme.substr(list), names))
    ADD_FAILURE() << "README.md lacks, or lists out of order: " << name;
}
