#include "tools/netrun/onnx_reader.h"

#include <cstring>
#include <fstream>

#include "engine/tensor.h"

namespace netrun {

namespace {

// Field numbers of the messages read, as onnx.proto declares them.
namespace model_field {
constexpr uint32_t kIrVersion = 1, kGraph = 7, kOpsetImport = 8;
}
namespace opset_field {
constexpr uint32_t kDomain = 1, kVersion = 2;
}
namespace graph_field {
constexpr uint32_t kNode = 1, kName = 2, kInitializer = 5, kInput = 11, kOutput = 12,
                   kValueInfo = 13;
}
namespace node_field {
constexpr uint32_t kInput = 1, kOutput = 2, kName = 3, kOpType = 4, kAttribute = 5, kDomain = 7;
}
namespace attribute_field {
constexpr uint32_t kName = 1, kF = 2, kI = 3, kS = 4, kT = 5, kFloats = 7, kInts = 8, kType = 20;
}
namespace tensor_field {
constexpr uint32_t kDims = 1, kDataType = 2, kSegment = 3, kFloatData = 4, kInt32Data = 5,
                   kInt64Data = 7, kName = 8, kRawData = 9, kDataLocation = 14;
}
namespace value_info_field {
constexpr uint32_t kName = 1, kType = 2;
}
namespace type_field {
constexpr uint32_t kTensorType = 1;  // TypeProto.tensor_type
constexpr uint32_t kElemType = 1, kShape = 2;  // TypeProto.Tensor
constexpr uint32_t kDim = 1;                   // TensorShapeProto
constexpr uint32_t kDimValue = 1, kDimParam = 2;  // TensorShapeProto.Dimension
}  // namespace type_field

// TensorProto.DataLocation EXTERNAL.
constexpr int64_t kExternalData = 1;

enum WireType : uint32_t { kVarint = 0, kFixed64 = 1, kLengthDelimited = 2, kFixed32 = 5 };

bool Fail(std::string* error, const std::string& why) {
  *error = why;
  return false;
}

const char* const kErrTruncated = "the file ends inside a field (truncated or not an ONNX model)";
const char* const kErrBadWire = "malformed field (not an ONNX model)";

// A bounded view of bytes being decoded.
struct Cursor {
  const uint8_t* p;
  const uint8_t* end;
  bool empty() const { return p >= end; }
  size_t left() const { return static_cast<size_t>(end - p); }
};

bool Varint(Cursor& c, uint64_t* out) {
  uint64_t v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (c.empty()) return false;
    const uint8_t b = *c.p++;
    v |= static_cast<uint64_t>(b & 0x7F) << shift;
    if ((b & 0x80) == 0) {
      *out = v;
      return true;
    }
  }
  return false;  // more than ten bytes
}

// One field: its number, wire type and, for the length-delimited and fixed
// kinds, its bytes (varints are read into value).
struct Field {
  uint32_t number = 0;
  uint32_t wire = 0;
  uint64_t value = 0;
  Cursor bytes{nullptr, nullptr};
};

// Reads the next field; false with *error set on malformed input.
bool NextField(Cursor& c, Field* f, std::string* error) {
  uint64_t tag = 0;
  if (!Varint(c, &tag)) {
    *error = kErrTruncated;
    return false;
  }
  f->number = static_cast<uint32_t>(tag >> 3);
  f->wire = static_cast<uint32_t>(tag & 7);
  if (f->number == 0 || (tag >> 3) > 0x1FFFFFFF) {
    *error = kErrBadWire;
    return false;
  }
  size_t len = 0;
  switch (f->wire) {
    case kVarint:
      if (!Varint(c, &f->value)) {
        *error = kErrTruncated;
        return false;
      }
      return true;
    case kFixed64:
      len = 8;
      break;
    case kFixed32:
      len = 4;
      break;
    case kLengthDelimited: {
      uint64_t n = 0;
      if (!Varint(c, &n)) {
        *error = kErrTruncated;
        return false;
      }
      if (n > c.left()) {
        *error = kErrTruncated;
        return false;
      }
      len = static_cast<size_t>(n);
      break;
    }
    default:  // groups are not used by ONNX
      *error = kErrBadWire;
      return false;
  }
  if (len > c.left()) {
    *error = kErrTruncated;
    return false;
  }
  f->bytes = Cursor{c.p, c.p + len};
  c.p += len;
  return true;
}

std::string Text(const Field& f) {
  return std::string(reinterpret_cast<const char*>(f.bytes.p), f.bytes.left());
}

float Fixed32Float(const uint8_t* p) {
  uint32_t u = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
               static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

// Wire type check for a known field; the text names the message.
bool Expect(const Field& f, uint32_t wire, const char* message, std::string* error) {
  if (f.wire == wire) return true;
  *error = std::string("malformed ") + message + " (field " + std::to_string(f.number) +
           " has the wrong wire type)";
  return false;
}

// Repeated int64 in packed or plain form, appended to out.
bool Int64s(const Field& f, const char* message, std::vector<int64_t>* out, std::string* error) {
  if (f.wire == kVarint) {
    out->push_back(static_cast<int64_t>(f.value));
    return true;
  }
  if (!Expect(f, kLengthDelimited, message, error)) return false;
  Cursor c = f.bytes;
  while (!c.empty()) {
    uint64_t v = 0;
    if (!Varint(c, &v)) {
      *error = std::string("malformed ") + message + " (packed integers)";
      return false;
    }
    out->push_back(static_cast<int64_t>(v));
  }
  return true;
}

// Repeated float in packed or plain form, appended to out.
bool Floats(const Field& f, const char* message, std::vector<float>* out, std::string* error) {
  if (f.wire == kFixed32) {
    out->push_back(Fixed32Float(f.bytes.p));
    return true;
  }
  if (!Expect(f, kLengthDelimited, message, error)) return false;
  if (f.bytes.left() % 4 != 0) {
    *error = std::string("malformed ") + message + " (packed floats)";
    return false;
  }
  const size_t n = f.bytes.left() / 4;
  out->reserve(out->size() + n);
  for (size_t k = 0; k < n; ++k) out->push_back(Fixed32Float(f.bytes.p + 4 * k));
  return true;
}

bool ParseTensor(Cursor c, OnnxTensor* t, std::string* error) {
  Field f;
  Cursor raw{nullptr, nullptr};
  bool has_raw = false, segmented = false;
  int64_t location = 0;
  std::vector<int64_t> int32_values;
  while (!c.empty()) {
    if (!NextField(c, &f, error)) return false;
    bool ok = true;
    switch (f.number) {
      case tensor_field::kDims:
        ok = Int64s(f, "tensor dims", &t->dims, error);
        break;
      case tensor_field::kDataType:
        ok = Expect(f, kVarint, "tensor", error);
        t->data_type = static_cast<int32_t>(f.value);
        break;
      case tensor_field::kSegment:
        segmented = true;
        break;
      case tensor_field::kFloatData:
        ok = Floats(f, "tensor float_data", &t->f32, error);
        break;
      case tensor_field::kInt32Data:
        ok = Int64s(f, "tensor int32_data", &int32_values, error);
        break;
      case tensor_field::kInt64Data:
        ok = Int64s(f, "tensor int64_data", &t->i64, error);
        break;
      case tensor_field::kName:
        ok = Expect(f, kLengthDelimited, "tensor", error);
        t->name = Text(f);
        break;
      case tensor_field::kRawData:
        ok = Expect(f, kLengthDelimited, "tensor", error);
        raw = f.bytes;
        has_raw = true;
        break;
      case tensor_field::kDataLocation:
        ok = Expect(f, kVarint, "tensor", error);
        location = static_cast<int64_t>(f.value);
        break;
      default:
        break;
    }
    if (!ok) return false;
  }
  const std::string who = "tensor '" + t->name + "'";
  if (location == kExternalData) return Fail(error, who + ": external data is not supported");
  if (segmented) return Fail(error, who + ": segmented tensors are not supported");
  int64_t count = 1;
  for (int64_t d : t->dims) {
    if (d < 0) return Fail(error, who + ": negative dimension");
    if (d > 0 && count > engine::kMaxElements / d)
      return Fail(error, who + ": more than 2^31-1 values");
    count *= d;
  }
  switch (t->data_type) {
    case kOnnxFloat:
      if (has_raw) {
        if (raw.left() != static_cast<uint64_t>(count) * 4)
          return Fail(error, who + ": raw data size disagrees with its dimensions");
        t->f32.resize(static_cast<size_t>(count));
        for (int64_t k = 0; k < count; ++k) t->f32[k] = Fixed32Float(raw.p + 4 * k);
      }
      if (static_cast<int64_t>(t->f32.size()) != count)
        return Fail(error, who + ": value count disagrees with its dimensions");
      return true;
    case kOnnxInt64:
    case kOnnxInt32: {
      const size_t width = t->data_type == kOnnxInt64 ? 8 : 4;
      if (has_raw) {
        if (raw.left() != static_cast<uint64_t>(count) * width)
          return Fail(error, who + ": raw data size disagrees with its dimensions");
        t->i64.resize(static_cast<size_t>(count));
        for (int64_t k = 0; k < count; ++k) {
          uint64_t u = 0;
          for (size_t b = 0; b < width; ++b)
            u |= static_cast<uint64_t>(raw.p[width * k + b]) << (8 * b);
          t->i64[k] = width == 8 ? static_cast<int64_t>(u)
                                 : static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(u)));
        }
      } else if (t->data_type == kOnnxInt32) {
        t->i64.clear();
        for (int64_t v : int32_values) t->i64.push_back(static_cast<int32_t>(v));
      }
      t->data_type = kOnnxInt64;
      if (static_cast<int64_t>(t->i64.size()) != count)
        return Fail(error, who + ": value count disagrees with its dimensions");
      return true;
    }
    default:
      return Fail(error, who + ": element type " + std::to_string(t->data_type) +
                      " is not supported (float32 values, int64 shapes and indices)");
  }
}

bool ParseAttribute(Cursor c, OnnxAttribute* a, std::string* error) {
  Field f;
  while (!c.empty()) {
    if (!NextField(c, &f, error)) return false;
    bool ok = true;
    switch (f.number) {
      case attribute_field::kName:
        ok = Expect(f, kLengthDelimited, "attribute", error);
        a->name = Text(f);
        break;
      case attribute_field::kF:
        ok = Expect(f, kFixed32, "attribute", error);
        if (ok) a->f = Fixed32Float(f.bytes.p);
        break;
      case attribute_field::kI:
        ok = Expect(f, kVarint, "attribute", error);
        a->i = static_cast<int64_t>(f.value);
        break;
      case attribute_field::kS:
        ok = Expect(f, kLengthDelimited, "attribute", error);
        a->s = Text(f);
        break;
      case attribute_field::kT:
        ok = Expect(f, kLengthDelimited, "attribute", error) && ParseTensor(f.bytes, &a->t, error);
        a->has_t = ok;
        break;
      case attribute_field::kFloats:
        ok = Floats(f, "attribute floats", &a->floats, error);
        break;
      case attribute_field::kInts:
        ok = Int64s(f, "attribute ints", &a->ints, error);
        break;
      case attribute_field::kType:
        ok = Expect(f, kVarint, "attribute", error);
        a->type = static_cast<int32_t>(f.value);
        break;
      default:
        break;
    }
    if (!ok) return false;
  }
  return true;
}

bool ParseNode(Cursor c, OnnxNode* n, std::string* error) {
  Field f;
  while (!c.empty()) {
    if (!NextField(c, &f, error)) return false;
    bool ok = true;
    switch (f.number) {
      case node_field::kInput:
        ok = Expect(f, kLengthDelimited, "node", error);
        n->inputs.push_back(Text(f));
        break;
      case node_field::kOutput:
        ok = Expect(f, kLengthDelimited, "node", error);
        n->outputs.push_back(Text(f));
        break;
      case node_field::kName:
        ok = Expect(f, kLengthDelimited, "node", error);
        n->name = Text(f);
        break;
      case node_field::kOpType:
        ok = Expect(f, kLengthDelimited, "node", error);
        n->op_type = Text(f);
        break;
      case node_field::kDomain:
        ok = Expect(f, kLengthDelimited, "node", error);
        n->domain = Text(f);
        break;
      case node_field::kAttribute: {
        ok = Expect(f, kLengthDelimited, "node", error);
        OnnxAttribute a;
        if (ok) ok = ParseAttribute(f.bytes, &a, error);
        if (ok) n->attributes.push_back(std::move(a));
        break;
      }
      default:
        break;
    }
    if (!ok) return false;
  }
  return true;
}

bool ParseShape(Cursor c, std::vector<int64_t>* dims, std::string* error) {
  Field f, g;
  while (!c.empty()) {
    if (!NextField(c, &f, error)) return false;
    if (f.number != type_field::kDim) continue;
    if (!Expect(f, kLengthDelimited, "shape", error)) return false;
    int64_t extent = -1;
    Cursor d = f.bytes;
    while (!d.empty()) {
      if (!NextField(d, &g, error)) return false;
      if (g.number == type_field::kDimValue) {
        if (!Expect(g, kVarint, "dimension", error)) return false;
        extent = static_cast<int64_t>(g.value);
        if (extent < 0) extent = -1;
      } else if (g.number == type_field::kDimParam) {
        extent = -1;
      }
    }
    dims->push_back(extent);
  }
  return true;
}

bool ParseValueInfo(Cursor c, OnnxValueInfo* v, std::string* error) {
  Field f, g, h;
  while (!c.empty()) {
    if (!NextField(c, &f, error)) return false;
    if (f.number == value_info_field::kName) {
      if (!Expect(f, kLengthDelimited, "value info", error)) return false;
      v->name = Text(f);
    } else if (f.number == value_info_field::kType) {
      if (!Expect(f, kLengthDelimited, "value info", error)) return false;
      Cursor t = f.bytes;
      while (!t.empty()) {
        if (!NextField(t, &g, error)) return false;
        if (g.number != type_field::kTensorType) continue;  // sequences, maps: no shape
        if (!Expect(g, kLengthDelimited, "type", error)) return false;
        Cursor tt = g.bytes;
        while (!tt.empty()) {
          if (!NextField(tt, &h, error)) return false;
          if (h.number == type_field::kElemType) {
            if (!Expect(h, kVarint, "tensor type", error)) return false;
            v->elem_type = static_cast<int32_t>(h.value);
          } else if (h.number == type_field::kShape) {
            if (!Expect(h, kLengthDelimited, "tensor type", error)) return false;
            v->has_shape = true;
            v->dims.clear();
            if (!ParseShape(h.bytes, &v->dims, error)) return false;
          }
        }
      }
    }
  }
  return true;
}

bool ParseGraph(Cursor c, OnnxGraph* g, std::string* error) {
  Field f;
  while (!c.empty()) {
    if (!NextField(c, &f, error)) return false;
    bool ok = true;
    switch (f.number) {
      case graph_field::kNode: {
        OnnxNode n;
        ok = Expect(f, kLengthDelimited, "graph", error) && ParseNode(f.bytes, &n, error);
        if (ok) g->nodes.push_back(std::move(n));
        break;
      }
      case graph_field::kName:
        ok = Expect(f, kLengthDelimited, "graph", error);
        g->name = Text(f);
        break;
      case graph_field::kInitializer: {
        OnnxTensor t;
        ok = Expect(f, kLengthDelimited, "graph", error) && ParseTensor(f.bytes, &t, error);
        if (ok) g->initializers.push_back(std::move(t));
        break;
      }
      case graph_field::kInput:
      case graph_field::kOutput:
      case graph_field::kValueInfo: {
        OnnxValueInfo v;
        ok = Expect(f, kLengthDelimited, "graph", error) && ParseValueInfo(f.bytes, &v, error);
        if (!ok) break;
        (f.number == graph_field::kInput    ? g->inputs
         : f.number == graph_field::kOutput ? g->outputs
                                            : g->value_info)
            .push_back(std::move(v));
        break;
      }
      default:
        break;
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace

int64_t OnnxTensor::elements() const {
  int64_t n = 1;
  for (int64_t d : dims) n *= d;
  return n;
}

const OnnxAttribute* OnnxNode::attribute(const std::string& wanted) const {
  for (const OnnxAttribute& a : attributes)
    if (a.name == wanted) return &a;
  return nullptr;
}

bool ParseOnnxModel(const uint8_t* data, size_t size, OnnxModel* model, std::string* error) {
  Cursor c{data, data + size};
  Field f, g;
  bool has_graph = false;
  if (size == 0) return Fail(error, "empty file");
  while (!c.empty()) {
    if (!NextField(c, &f, error)) return false;
    if (f.number == model_field::kIrVersion) {
      if (!Expect(f, kVarint, "model", error)) return false;
      model->ir_version = static_cast<int64_t>(f.value);
    } else if (f.number == model_field::kOpsetImport) {
      if (!Expect(f, kLengthDelimited, "model", error)) return false;
      std::string domain;
      int64_t version = 0;
      Cursor o = f.bytes;
      while (!o.empty()) {
        if (!NextField(o, &g, error)) return false;
        if (g.number == opset_field::kDomain) {
          if (!Expect(g, kLengthDelimited, "opset import", error)) return false;
          domain = Text(g);
        } else if (g.number == opset_field::kVersion) {
          if (!Expect(g, kVarint, "opset import", error)) return false;
          version = static_cast<int64_t>(g.value);
        }
      }
      if (domain.empty() || domain == "ai.onnx") model->opset = version;
    } else if (f.number == model_field::kGraph) {
      if (!Expect(f, kLengthDelimited, "model", error)) return false;
      if (!ParseGraph(f.bytes, &model->graph, error)) return false;
      has_graph = true;
    }
  }
  if (!has_graph) return Fail(error, "no graph (not an ONNX model)");
  if (model->opset == 0) return Fail(error, "the model imports no default-domain operator set");
  return true;
}

bool ReadOnnxModel(const std::string& path, OnnxModel* model, std::string* error) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return Fail(error, "cannot open " + path);
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxOnnxFileBytes) return Fail(error, path + ": too large");
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.seekg(0);
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size))
    return Fail(error, "cannot read " + path);
  return ParseOnnxModel(bytes.data(), bytes.size(), model, error);
}

}  // namespace netrun
