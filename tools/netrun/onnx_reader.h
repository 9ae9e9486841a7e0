// Reading ONNX model files: a small decoder of the protobuf wire format for
// the parts of a model netrun imports (the default-domain opset, the graph's
// nodes, initializers, inputs, outputs and value infos).  Fields it does not
// need are skipped.  Every length and count is checked against the bytes
// that remain, so a damaged or truncated file is refused with a reason and
// never read past its end; no allocation exceeds what the file itself holds
// (tensor contents are capped at engine::kMaxElements values).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace netrun {

// Tensor element types netrun takes (TensorProto.DataType codes).
constexpr int32_t kOnnxFloat = 1;
constexpr int32_t kOnnxInt32 = 6;
constexpr int32_t kOnnxInt64 = 7;

// A tensor's name, dimensions and values: float32 tensors in f32, integer
// ones (int64, int32 widened) in i64.
struct OnnxTensor {
  std::string name;
  std::vector<int64_t> dims;
  int32_t data_type = 0;
  std::vector<float> f32;
  std::vector<int64_t> i64;
  // Product of dims (1 for a scalar).
  int64_t elements() const;
};

// AttributeProto.AttributeType codes netrun reads.
enum OnnxAttributeType : int32_t {
  kAttrFloat = 1,
  kAttrInt = 2,
  kAttrString = 3,
  kAttrTensor = 4,
  kAttrGraph = 5,
  kAttrFloats = 6,
  kAttrInts = 7,
};

struct OnnxAttribute {
  std::string name;
  int32_t type = 0;
  float f = 0.f;
  int64_t i = 0;
  std::string s;
  OnnxTensor t;
  bool has_t = false;
  std::vector<float> floats;
  std::vector<int64_t> ints;
};

struct OnnxNode {
  std::string name;
  std::string op_type;
  std::string domain;
  std::vector<std::string> inputs;   // "" marks an omitted optional input
  std::vector<std::string> outputs;
  std::vector<OnnxAttribute> attributes;
  // The attribute called name; null when absent.
  const OnnxAttribute* attribute(const std::string& name) const;
};

// A declared value: element type and shape, -1 for a symbolic or missing
// extent.  has_shape is false when the declaration gives no shape at all.
struct OnnxValueInfo {
  std::string name;
  int32_t elem_type = 0;
  bool has_shape = false;
  std::vector<int64_t> dims;
};

struct OnnxGraph {
  std::string name;
  std::vector<OnnxNode> nodes;
  std::vector<OnnxTensor> initializers;
  std::vector<OnnxValueInfo> inputs;
  std::vector<OnnxValueInfo> outputs;
  std::vector<OnnxValueInfo> value_info;
};

struct OnnxModel {
  int64_t ir_version = 0;
  int64_t opset = 0;  // of the default ("" or "ai.onnx") domain; 0 when not imported
  OnnxGraph graph;
};

// Decodes the bytes of a whole model file; false with a reason (naming the
// tensor for an unsupported element type or external data).
bool ParseOnnxModel(const uint8_t* data, size_t size, OnnxModel* model, std::string* error);
bool ReadOnnxModel(const std::string& path, OnnxModel* model, std::string* error);

// The most bytes ReadOnnxModel takes from a file.
constexpr int64_t kMaxOnnxFileBytes = int64_t{1} << 31;

}  // namespace netrun
