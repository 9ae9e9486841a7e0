#include "tools/netrun/onnx_import.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <utility>

#include "engine/core/activation.h"
#include "engine/core/binary_op.h"
#include "engine/core/resize.h"
#include "engine/tensor.h"

namespace netrun {

namespace {

// ---------------------------------------------------------------------------
// Shapes and orders

using Dims = std::vector<int64_t>;

// The element count of a shape, saturating at kTooMany.
constexpr int64_t kTooMany = int64_t{1} << 62;
int64_t Count(const Dims& d) {
  int64_t n = 1;
  for (int64_t v : d) {
    if (v < 0) return kTooMany;
    if (v != 0 && n > kTooMany / v) return kTooMany;
    n *= v;
  }
  return n;
}

// The most values a constant folded at import may hold.
constexpr int64_t kMaxFolded = int64_t{1} << 22;

int64_t Count(const Extents4& e) { return int64_t{e[0]} * e[1] * e[2] * e[3]; }

std::string DimsText(const Dims& d) {
  std::string s;
  for (size_t i = 0; i < d.size(); ++i) s += (i ? "x" : "") + std::to_string(d[i]);
  return s.empty() ? "scalar" : s;
}

// The engine extents of an ONNX shape of rank 0 to 4 (see the header);
// false for a higher rank or an extent outside 1..2^31-1.
bool CanonOf(const Dims& d, Extents4* e) {
  for (int64_t v : d)
    if (v < 1 || v > engine::kMaxElements) return false;
  if (Count(d) > engine::kMaxElements) return false;
  auto at = [&](size_t i) { return static_cast<int32_t>(d[i]); };
  switch (d.size()) {
    case 0: *e = {1, 1, 1, 1}; return true;
    case 1: *e = {1, 1, 1, at(0)}; return true;
    case 2: *e = {at(0), 1, 1, at(1)}; return true;
    case 3: *e = {at(0), 1, at(2), at(1)}; return true;
    case 4: *e = {at(0), at(2), at(3), at(1)}; return true;
    default: return false;
  }
}

// The engine axis (0 n, 1 h, 2 w, 3 c) of ONNX axis a of a rank-r shape.
int EngineAxis(size_t rank, int64_t a) {
  static const int kAxes[5][4] = {{-1, -1, -1, -1}, {3, -1, -1, -1}, {0, 3, -1, -1},
                                  {0, 3, 2, -1}, {0, 3, 1, 2}};
  if (rank > 4 || a < 0 || a >= static_cast<int64_t>(rank)) return -1;
  return kAxes[rank][a];
}

// Whether the NHWC order of e is its NCHW order (one channel, or one pixel).
bool Plain(const Extents4& e) { return e[3] == 1 || int64_t{e[1]} * e[2] == 1; }

// Whether two memory shapes hold the same values in the same order.
bool SameOrder(const Extents4& a, const Extents4& b) {
  return Count(a) == Count(b) && (a == b || (Plain(a) && Plain(b)));
}

std::string ExtentsText(const Extents4& e) {
  return std::to_string(e[0]) + "x" + std::to_string(e[1]) + "x" + std::to_string(e[2]) + "x" +
         std::to_string(e[3]);
}

// Numpy broadcast of two shapes; false when an extent pair is neither
// equal nor 1.
bool Broadcast(const Dims& a, const Dims& b, Dims* out) {
  const size_t r = std::max(a.size(), b.size());
  out->assign(r, 1);
  for (size_t i = 0; i < r; ++i) {
    const int64_t x = i < r - a.size() ? 1 : a[i - (r - a.size())];
    const int64_t y = i < r - b.size() ? 1 : b[i - (r - b.size())];
    if (x != y && x != 1 && y != 1) return false;
    (*out)[i] = std::max(x, y);
  }
  return true;
}

Dims PadLeading(const Dims& d, size_t rank) {
  Dims p(rank - d.size(), 1);
  p.insert(p.end(), d.begin(), d.end());
  return p;
}

// Row-major strides of d.
Dims Strides(const Dims& d) {
  Dims s(d.size(), 1);
  for (size_t i = d.size(); i-- > 1;) s[i - 1] = s[i] * d[i];
  return s;
}

// The flat index in a (broadcast) source of shape src, right-aligned to
// out, of the output position whose multi-index is idx.
int64_t BroadcastIndex(const Dims& idx, const Dims& src) {
  const size_t off = idx.size() - src.size();
  int64_t flat = 0;
  for (size_t i = 0; i < src.size(); ++i) flat = flat * src[i] + (src[i] == 1 ? 0 : idx[off + i]);
  return flat;
}

// Steps a multi-index through a shape in C order; false after the last.
bool NextIndex(Dims& idx, const Dims& shape) {
  for (size_t i = shape.size(); i-- > 0;) {
    if (++idx[i] < shape[i]) return true;
    idx[i] = 0;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Constants

bool IsInt(const OnnxTensor& t) { return t.data_type == kOnnxInt64; }

double ValueAt(const OnnxTensor& t, int64_t i) {
  return IsInt(t) ? static_cast<double>(t.i64[i]) : static_cast<double>(t.f32[i]);
}

OnnxTensor IntTensor(const Dims& dims, std::vector<int64_t> v) {
  OnnxTensor t;
  t.dims = dims;
  t.data_type = kOnnxInt64;
  t.i64 = std::move(v);
  return t;
}

OnnxTensor FloatTensor(const Dims& dims, std::vector<float> v) {
  OnnxTensor t;
  t.dims = dims;
  t.data_type = kOnnxFloat;
  t.f32 = std::move(v);
  return t;
}

std::vector<float> AsFloats(const OnnxTensor& t) {
  if (!IsInt(t)) return t.f32;
  std::vector<float> f(t.i64.size());
  for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<float>(t.i64[i]);
  return f;
}

// Float values saturate at +-2^62 (NaN reads as 0).
std::vector<int64_t> AsInts(const OnnxTensor& t) {
  if (IsInt(t)) return t.i64;
  std::vector<int64_t> v(t.f32.size());
  for (size_t i = 0; i < v.size(); ++i) {
    const double f = t.f32[i];
    v[i] = f >= 4.6e18 ? kTooMany : f <= -4.6e18 ? -kTooMany : f == f ? static_cast<int64_t>(f) : 0;
  }
  return v;
}

// Picks elements of t: out element k is t's element pick(k) for k over
// a new shape; the values keep t's type.
template <class Pick>
OnnxTensor Gathered(const OnnxTensor& t, const Dims& dims, Pick pick) {
  const int64_t n = Count(dims);
  OnnxTensor o;
  o.dims = dims;
  o.data_type = t.data_type;
  if (IsInt(t)) {
    o.i64.resize(static_cast<size_t>(n));
    for (int64_t k = 0; k < n; ++k) o.i64[k] = t.i64[pick(k)];
  } else {
    o.f32.resize(static_cast<size_t>(n));
    for (int64_t k = 0; k < n; ++k) o.f32[k] = t.f32[pick(k)];
  }
  return o;
}

// ---------------------------------------------------------------------------
// Attributes

int64_t AttrInt(const OnnxNode& n, const char* name, int64_t fallback) {
  const OnnxAttribute* a = n.attribute(name);
  return a != nullptr ? a->i : fallback;
}

float AttrFloat(const OnnxNode& n, const char* name, float fallback) {
  const OnnxAttribute* a = n.attribute(name);
  return a != nullptr ? a->f : fallback;
}

std::string AttrString(const OnnxNode& n, const char* name, const char* fallback) {
  const OnnxAttribute* a = n.attribute(name);
  return a != nullptr ? a->s : fallback;
}

Dims AttrInts(const OnnxNode& n, const char* name) {
  const OnnxAttribute* a = n.attribute(name);
  return a != nullptr ? a->ints : Dims{};
}

bool Fail(std::string* why, const std::string& text) {
  *why = text;
  return false;
}

// An axis in -rank..rank-1 as 0..rank-1; false outside.
bool NormAxis(int64_t axis, size_t rank, int64_t* out) {
  const int64_t r = static_cast<int64_t>(rank);
  if (axis < -r || axis >= r) return false;
  *out = axis < 0 ? axis + r : axis;
  return true;
}

// ---------------------------------------------------------------------------
// The importer's state

struct Value {
  bool constant = false;
  OnnxTensor k;  // a constant's shape and values
  Dims dims;     // a run-time value's ONNX shape
  std::string tensor;
  Extents4 memory{1, 1, 1, 1};  // the engine values are the NHWC order of this
  Extents4 engine{1, 1, 1, 1};  // the engine tensor's own extents
  // A rank-5 view [N, g, C/g, H, W] of a rank-4 value, on its way to a
  // channel shuffle; transposed once its axes 1 and 2 are swapped.
  int32_t shuffle_groups = 0;
  bool shuffle_transposed = false;
};

// The state of one import: the value of every ONNX name seen so far, the
// live nodes and the engine description being written.
class Importer {
 public:
  Importer(const OnnxModel& model, OnnxImport* result) : opset(model.opset), graph(model.graph), out(result) {}

  const int64_t opset;
  const OnnxGraph& graph;
  OnnxImport* out;
  std::map<std::string, Value> values;
  std::map<std::string, std::vector<size_t>> consumers;  // live nodes reading a value
  std::set<std::string> graph_outputs;
  std::vector<bool> live, absorbed;
  size_t current = 0;  // the node being mapped

  // Input i of a node: whether it is given; its value (null with *why when
  // missing or not yet defined); the same, required to be a constant, or
  // a run-time value of rank 4 or less.
  bool Has(const OnnxNode& n, size_t i) const { return i < n.inputs.size() && !n.inputs[i].empty(); }

  const Value* Input(const OnnxNode& n, size_t i, std::string* why) const {
    if (!Has(n, i)) return Fail(why, "input " + std::to_string(i) + " is missing"), nullptr;
    auto it = values.find(n.inputs[i]);
    if (it == values.end())
      return Fail(why, "input '" + n.inputs[i] + "' is neither a graph input, an initializer nor made by an earlier node"), nullptr;
    return &it->second;
  }

  const OnnxTensor* Const(const OnnxNode& n, size_t i, std::string* why) const {
    const Value* v = Input(n, i, why);
    if (v == nullptr) return nullptr;
    if (!v->constant)
      return Fail(why, "input '" + n.inputs[i] + "' must be a constant (an initializer or folded from shapes)"), nullptr;
    return &v->k;
  }

  const Value* Runtime(const OnnxNode& n, size_t i, std::string* why) const {
    const Value* v = Input(n, i, why);
    if (v == nullptr) return nullptr;
    if (v->constant) return Fail(why, "input '" + n.inputs[i] + "' is a constant; only run-time values map here"), nullptr;
    if (v->dims.size() > 4)
      return Fail(why, "tensors of rank " + std::to_string(v->dims.size()) + " are not supported"), nullptr;
    return v;
  }

  void SetConst(const std::string& name, OnnxTensor t) {
    Value v;
    v.constant = true;
    v.k = std::move(t);
    values[name] = std::move(v);
  }

  // A value the engine tensor holds in its own NHWC order.
  void SetRuntime(const std::string& name, const Dims& dims, const std::string& tensor, const Extents4& e) {
    Value v;
    v.dims = dims;
    v.tensor = tensor;
    v.memory = e;
    v.engine = e;
    values[name] = std::move(v);
  }

  std::string NodeName(const OnnxNode& n) const {
    if (!n.name.empty()) return n.name;
    return n.outputs.empty() ? n.op_type : n.outputs[0];
  }

  std::string UniqueTensor(const std::string& base) {
    std::string name = base;
    for (int k = 2; !used_tensors_.insert(name).second; ++k) name = base + "#" + std::to_string(k);
    return name;
  }

  // Adds a layer for the node being mapped, named after it (helper layers
  // with a suffix such as ".reshape").
  LayerEntry& Emit(const OnnxNode& n, const char* type, std::vector<std::string> tensors,
                   std::vector<std::string> weights = {}, const char* suffix = "") {
    return EmitNamed(NodeName(n) + suffix, type, std::move(tensors), std::move(weights));
  }

  LayerEntry& EmitNamed(const std::string& base, const char* type, std::vector<std::string> tensors,
                        std::vector<std::string> weights = {}) {
    LayerEntry l;
    l.type = type;
    l.name = base;
    for (int k = 2; !layer_names_.insert(l.name).second; ++k) l.name = base + "#" + std::to_string(k);
    l.tensors = std::move(tensors);
    l.weights = std::move(weights);
    out->net.layers.push_back(std::move(l));
    return out->net.layers.back();
  }

  std::string Weight(const OnnxNode& n, const char* role, const Extents4& shape, std::vector<float> v) {
    OnnxBlob b;
    b.name = UniqueWeight(NodeName(n) + "." + role);
    b.shape = shape;
    b.values = std::move(v);
    out->weights.push_back(std::move(b));
    return out->weights.back().name;
  }

  // A constant tensor of ONNX values, laid out as the canonical engine
  // tensor of dims (of rank 4 or less).
  std::string ConstantTensor(const OnnxNode& n, const Dims& dims, const std::vector<float>& onnx) {
    return ConstantTensor(NodeName(n) + ".const", dims, onnx);
  }

  std::string ConstantTensor(const std::string& base, const Dims& dims, const std::vector<float>& onnx) {
    Extents4 e;
    CanonOf(dims, &e);
    std::vector<float> v(onnx.size());
    OnnxToEngineOrder(onnx.data(), e, v.data());
    return EngineConstant(base, e, std::move(v));
  }

  // A constant tensor of extents e holding values in engine order.
  std::string EngineConstant(const std::string& base, const Extents4& e, std::vector<float> values) {
    OnnxBlob b;
    b.name = UniqueTensor(base);
    b.shape = e;
    b.values = std::move(values);
    out->constants.push_back(std::move(b));
    return out->constants.back().name;
  }


  // The engine tensor holding v with extents want (same values, same
  // order): v's own, or a Reshape of it, made once.
  std::string EngineAs(const OnnxNode& n, const Value& v, const Extents4& want) {
    if (v.engine == want) return v.tensor;
    const std::string key = v.tensor + "@" + ExtentsText(want);
    auto it = reshaped_.find(key);
    if (it != reshaped_.end()) return it->second;
    const std::string t = UniqueTensor(key);
    LayerEntry& l = Emit(n, "Reshape", {v.tensor, t}, {}, ".reshape");
    for (int i = 0; i < 4; ++i) l.params[i] = want[i];
    reshaped_[key] = t;
    return t;
  }

  // The engine tensor holding v in the canonical layout of dims (v's own
  // ONNX shape, or one with leading 1s added).
  bool Canonical(const OnnxNode& n, const Value& v, const Dims& dims, std::string* tensor,
                 Extents4* e, std::string* why) {
    if (!CanonOf(dims, e)) return Fail(why, "shape " + DimsText(dims) + " has no engine layout");
    if (!SameOrder(v.memory, *e))
      return Fail(why, "a value of shape " + DimsText(v.dims) +
                           " is held in an order this operation cannot take (a flattened NCHW tensor)");
    *tensor = EngineAs(n, v, *e);
    return true;
  }

  // Whether an elementwise layer may overwrite the tensor of value name in
  // place (so that the engine folds it into the producer): the value is
  // no graph output, has this node as its only consumer and no other value
  // shares its tensor, whose producer is the last layer, owns its values
  // (no Reshape that lends another tensor's) and has one output.
  bool InPlace(const std::string& name) const {
    const Value& v = values.at(name);
    if (SoleConsumer(name) != static_cast<int>(current) || out->net.layers.empty()) return false;
    const LayerEntry& last = out->net.layers.back();
    if (last.type == "Reshape" || last.type == "Split" || last.tensors.empty() ||
        last.tensors.back() != v.tensor)
      return false;
    for (const auto& other : values)
      if (other.first != name && !other.second.constant && other.second.tensor == v.tensor) return false;
    return true;
  }

  // The single live consumer of a value that is no graph output, or -1.
  int SoleConsumer(const std::string& name) const {
    auto it = consumers.find(name);
    if (graph_outputs.count(name) != 0 || it == consumers.end() || it->second.size() != 1) return -1;
    return static_cast<int>(it->second[0]);
  }

  std::string UniqueWeight(const std::string& base) {
    std::string name = base;
    for (int k = 2; !weight_names_.insert(name).second; ++k) name = base + "#" + std::to_string(k);
    return name;
  }

 private:
  std::set<std::string> used_tensors_, layer_names_, weight_names_;
  std::map<std::string, std::string> reshaped_;
};

using MapFn = bool (*)(Importer&, const OnnxNode&, std::string*);

// ---------------------------------------------------------------------------
// Sliding windows (Conv, ConvTranspose, pooling)

struct Window {
  int64_t kernel[2] = {1, 1};  // h, w
  int64_t stride[2] = {1, 1};
  int64_t dilation[2] = {1, 1};
  int64_t pad0[2] = {0, 0};
  int64_t pad1[2] = {0, 0};
  int64_t out[2] = {1, 1};
};

bool Pair(const Dims& v, const char* what, int64_t fallback, int64_t out[2], std::string* why) {
  if (v.empty()) {
    out[0] = out[1] = fallback;
    return true;
  }
  if (v.size() != 2) return Fail(why, std::string(what) + " must have two values (2-D only)");
  out[0] = v[0];
  out[1] = v[1];
  return true;
}

// Reads kernel, strides, dilations and pads (explicit or auto_pad) of a
// forward window over in[2] = {H, W} and gives the output extents.
bool ReadWindow(const OnnxNode& n, const int64_t in[2], const Dims& kernel, Window* w,
                std::string* why) {
  if (kernel.size() != 2) return Fail(why, "only 2-D windows are supported");
  w->kernel[0] = kernel[0];
  w->kernel[1] = kernel[1];
  if (!Pair(AttrInts(n, "strides"), "strides", 1, w->stride, why) ||
      !Pair(AttrInts(n, "dilations"), "dilations", 1, w->dilation, why))
    return false;
  for (int a = 0; a < 2; ++a)
    if (w->kernel[a] < 1 || w->stride[a] < 1 || w->dilation[a] < 1 || w->kernel[a] > 65535 ||
        w->stride[a] > 65535 || w->dilation[a] > 65535)
      return Fail(why, "kernel, strides and dilations must be 1 to 65535");
  const std::string autopad = AttrString(n, "auto_pad", "NOTSET");
  const Dims pads = AttrInts(n, "pads");
  if (autopad == "NOTSET") {
    if (!pads.empty() && pads.size() != 4) return Fail(why, "pads must have four values (2-D only)");
    for (int a = 0; a < 2 && !pads.empty(); ++a) {
      w->pad0[a] = pads[a];
      w->pad1[a] = pads[a + 2];
    }
  } else if (autopad == "SAME_UPPER" || autopad == "SAME_LOWER") {
    for (int a = 0; a < 2; ++a) {
      const int64_t o = (in[a] + w->stride[a] - 1) / w->stride[a];
      const int64_t span = (w->kernel[a] - 1) * w->dilation[a] + 1;
      const int64_t total = std::max<int64_t>((o - 1) * w->stride[a] + span - in[a], 0);
      const int64_t small = total / 2;
      w->pad0[a] = autopad == "SAME_UPPER" ? small : total - small;
      w->pad1[a] = total - w->pad0[a];
    }
  } else if (autopad != "VALID") {
    return Fail(why, "auto_pad " + autopad + " is not supported");
  }
  for (int a = 0; a < 2; ++a) {
    if (w->pad0[a] < 0 || w->pad1[a] < 0 || w->pad0[a] > 65535 || w->pad1[a] > 65535)
      return Fail(why, "pads must be 0 to 65535");
    const int64_t span = (w->kernel[a] - 1) * w->dilation[a] + 1;
    const int64_t padded = in[a] + w->pad0[a] + w->pad1[a];
    if (padded < span) return Fail(why, "the window is larger than the padded input");
    w->out[a] = (padded - span) / w->stride[a] + 1;
  }
  return true;
}

// Engine params 0..9: kernel w, h; pads w0, w1, h0, h1; strides w, h;
// dilations w, h.
void WindowParams(const Window& w, int32_t* p) {
  const int64_t v[10] = {w.kernel[1], w.kernel[0], w.pad0[1], w.pad1[1], w.pad0[0],
                         w.pad1[0],   w.stride[1], w.stride[0], w.dilation[1], w.dilation[0]};
  for (int i = 0; i < 10; ++i) p[i] = static_cast<int32_t>(v[i]);
}

// A rank-4 run-time input in canonical layout.
bool Image(Importer& im, const OnnxNode& n, size_t i, const Value** v, std::string* tensor,
           std::string* why) {
  *v = im.Runtime(n, i, why);
  if (*v == nullptr) return false;
  if ((*v)->dims.size() != 4)
    return Fail(why, "input must be a 4-D NCHW tensor, not " + DimsText((*v)->dims));
  Extents4 e;
  return im.Canonical(n, **v, (*v)->dims, tensor, &e, why);
}

// Per-channel values of a constant: one value (repeated) or c values in a
// shape that broadcasts along the channel axis only.
bool ChannelValues(const OnnxTensor& t, int64_t c, std::vector<float>* out, std::string* why) {
  const std::vector<float> v = AsFloats(t);
  if (t.elements() == 1) {
    out->assign(static_cast<size_t>(c), v.empty() ? 0.f : v[0]);
    return true;
  }
  if (t.elements() != c) return Fail(why, "'" + t.name + "' must hold 1 or " + std::to_string(c) + " values");
  *out = v;
  return true;
}

// ---------------------------------------------------------------------------
// Convolutions

// Emits a convolution-family layer of type `type` over input `in` (value
// x): the weight w, [A][B][kh][kw] in the file, stored as [A][kh][kw][B];
// the optional bias (input 2) of m values; the output [N, m, out_h, out_w]
// of the window win.
bool EmitWindowed(Importer& im, const OnnxNode& n, const char* type, const std::string& in,
                  const Value* x, const OnnxTensor& w, int64_t m, const Window& win, std::string* why) {
  const int64_t a = w.dims[0], b = w.dims[1], taps = w.dims[2] * w.dims[3];
  const std::vector<float> wv = AsFloats(w);
  std::vector<float> packed(wv.size());
  for (int64_t i = 0; i < a; ++i)
    for (int64_t j = 0; j < b; ++j)
      for (int64_t t = 0; t < taps; ++t) packed[(i * taps + t) * b + j] = wv[(i * b + j) * taps + t];
  std::vector<std::string> weights = {
      im.Weight(n, "weight",
                {static_cast<int32_t>(a), static_cast<int32_t>(w.dims[2]), static_cast<int32_t>(w.dims[3]),
                 static_cast<int32_t>(b)},
                std::move(packed))};
  if (im.Has(n, 2)) {
    const OnnxTensor* bias = im.Const(n, 2, why);
    if (bias == nullptr) return false;
    if (bias->elements() != m) return Fail(why, "bias must hold one value per output channel");
    weights.push_back(im.Weight(n, "bias", {1, 1, 1, static_cast<int32_t>(m)}, AsFloats(*bias)));
  }
  const Dims od = {x->dims[0], m, win.out[0], win.out[1]};
  Extents4 oe;
  if (!CanonOf(od, &oe)) return Fail(why, "output too large");
  LayerEntry& l = im.Emit(n, type, {in, n.outputs[0]}, weights);
  WindowParams(win, l.params);
  im.SetRuntime(n.outputs[0], od, n.outputs[0], oe);
  return true;
}

bool MapConv(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x;
  std::string in;
  if (!Image(im, n, 0, &x, &in, why)) return false;
  const OnnxTensor* w = im.Const(n, 1, why);
  if (w == nullptr) return false;
  if (w->dims.size() != 4) return Fail(why, "only 2-D convolutions are supported");
  const int64_t m = w->dims[0], cg = w->dims[1], kh = w->dims[2], kw = w->dims[3];
  const int64_t c = x->dims[1], group = AttrInt(n, "group", 1);
  Dims kernel = AttrInts(n, "kernel_shape");
  if (!kernel.empty() && kernel != Dims{kh, kw}) return Fail(why, "kernel_shape disagrees with the weight");
  const bool depthwise = group == c && cg == 1 && m == c && group > 1;
  if (group != 1 && !depthwise)
    return Fail(why, "grouped convolution with " + std::to_string(group) +
                         " groups (the engine takes 1 group or depthwise with one output per channel)");
  if (!depthwise && cg != c) return Fail(why, "weight channels disagree with the input");
  Window win;
  const int64_t hw[2] = {x->dims[2], x->dims[3]};
  if (!ReadWindow(n, hw, {kh, kw}, &win, why)) return false;
  // [M][C][kh][kw] -> [M][kh][kw][C] (depthwise: C = 1).
  return EmitWindowed(im, n, depthwise ? "DepthwiseConv" : "Conv", in, x, *w, m, win, why);
}

// One axis of a transposed convolution: the engine's pads from ONNX's pads,
// output_padding and output_shape.
bool DeconvAxis(int64_t in, int64_t k, int64_t s, int64_t d, int64_t pb, int64_t pe, int64_t op,
                int64_t wanted, int64_t* pad0, int64_t* pad1, int64_t* out, std::string* why) {
  const int64_t full = (in - 1) * s + (k - 1) * d + 1;
  if (op < 0 || op >= std::max(s, d)) return Fail(why, "output_padding must be below the stride");
  if (wanted > 0) {
    const int64_t total = full + op - wanted;
    if (total < 0 || total % 2 != 0)
      return Fail(why, "output_shape needs an uneven split of padding, which is not supported");
    pb = pe = total / 2;
  }
  *pad0 = pb;
  *pad1 = pe - op;
  if (*pad1 < 0) return Fail(why, "output_padding larger than the end padding is not supported");
  *out = full - *pad0 - *pad1;
  if (*out < 1) return Fail(why, "output extent below 1");
  return true;
}

bool MapConvTranspose(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x;
  std::string in;
  if (!Image(im, n, 0, &x, &in, why)) return false;
  const OnnxTensor* w = im.Const(n, 1, why);
  if (w == nullptr) return false;
  if (w->dims.size() != 4) return Fail(why, "only 2-D transposed convolutions are supported");
  if (AttrInt(n, "group", 1) != 1) return Fail(why, "grouped transposed convolution is not supported");
  const int64_t c = w->dims[0], m = w->dims[1], kh = w->dims[2], kw = w->dims[3];
  if (c != x->dims[1]) return Fail(why, "weight channels disagree with the input");
  Dims kernel = AttrInts(n, "kernel_shape");
  if (!kernel.empty() && kernel != Dims{kh, kw}) return Fail(why, "kernel_shape disagrees with the weight");
  Window win;
  int64_t stride[2], dil[2], op[2];
  if (!Pair(AttrInts(n, "strides"), "strides", 1, stride, why) ||
      !Pair(AttrInts(n, "dilations"), "dilations", 1, dil, why) ||
      !Pair(AttrInts(n, "output_padding"), "output_padding", 0, op, why))
    return false;
  const Dims pads = AttrInts(n, "pads"), oshape = AttrInts(n, "output_shape");
  const std::string autopad = AttrString(n, "auto_pad", "NOTSET");
  if (!pads.empty() && pads.size() != 4) return Fail(why, "pads must have four values");
  if (!oshape.empty() && oshape.size() != 2) return Fail(why, "output_shape must have two values");
  if (autopad != "NOTSET" && autopad != "VALID" && autopad != "SAME_UPPER" && autopad != "SAME_LOWER")
    return Fail(why, "auto_pad " + autopad + " is not supported");
  const int64_t k[2] = {kh, kw};
  for (int a = 0; a < 2; ++a) {
    if (stride[a] < 1 || dil[a] < 1 || stride[a] > 65535 || dil[a] > 65535)
      return Fail(why, "strides and dilations must be 1 to 65535");
    const int64_t in_a = x->dims[2 + a];
    int64_t wanted = oshape.empty() ? 0 : oshape[a];
    if (autopad == "SAME_UPPER" || autopad == "SAME_LOWER") wanted = in_a * stride[a];
    const int64_t pb = autopad == "NOTSET" && !pads.empty() ? pads[a] : 0;
    const int64_t pe = autopad == "NOTSET" && !pads.empty() ? pads[a + 2] : 0;
    if (!DeconvAxis(in_a, k[a], stride[a], dil[a], pb, pe, op[a], wanted, &win.pad0[a], &win.pad1[a],
                    &win.out[a], why))
      return false;
    win.kernel[a] = k[a];
    win.stride[a] = stride[a];
    win.dilation[a] = dil[a];
  }
  // [C][M][kh][kw] -> [C][kh][kw][M].
  return EmitWindowed(im, n, "ConvTranspose", in, x, *w, m, win, why);
}

// ---------------------------------------------------------------------------
// Normalisation and activations

bool MapBatchNorm(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x = im.Runtime(n, 0, why);
  if (x == nullptr) return false;
  if (AttrInt(n, "training_mode", 0) != 0 || AttrInt(n, "spatial", 1) != 1)
    return Fail(why, "only inference with per-channel statistics is supported");
  if (n.outputs.size() > 1 && !n.outputs[1].empty()) return Fail(why, "running statistics outputs are not supported");
  if (x->dims.size() < 2) return Fail(why, "input needs a channel axis");
  std::string in;
  Extents4 e;
  if (!im.Canonical(n, *x, x->dims, &in, &e, why)) return false;
  const int64_t c = x->dims[1];
  std::vector<float> p[4];
  const char* roles[4] = {"scale", "bias", "mean", "var"};
  for (int i = 0; i < 4; ++i) {
    const OnnxTensor* t = im.Const(n, 1 + i, why);
    if (t == nullptr) return false;
    if (t->elements() != c) return Fail(why, std::string(roles[i]) + " must hold one value per channel");
    p[i] = AsFloats(*t);
  }
  float eps = AttrFloat(n, "epsilon", 1e-5f);
  // The engine takes an epsilon this small as unset (1e-5): fold the
  // difference into the scale.
  if (eps <= 1e-12f) {
    for (int64_t k = 0; k < c; ++k)
      p[0][k] = static_cast<float>(p[0][k] * std::sqrt((double{p[3][k]} + 1e-5) / (double{p[3][k]} + eps)));
    eps = 1e-5f;
  }
  std::vector<std::string> weights;
  for (int i = 0; i < 4; ++i)
    weights.push_back(im.Weight(n, roles[i], {1, 1, 1, static_cast<int32_t>(c)}, std::move(p[i])));
  LayerEntry& l = im.Emit(n, "BatchNormalization", {in, n.outputs[0]}, weights);
  l.alpha = eps;
  im.SetRuntime(n.outputs[0], x->dims, n.outputs[0], e);
  return true;
}

// An elementwise activation: any layout, the values keep their order.
bool EmitActivation(Importer& im, const OnnxNode& n, int32_t kind, float alpha,
                    std::vector<std::string> weights, std::string* why) {
  const Value* x = im.Runtime(n, 0, why);
  if (x == nullptr) return false;
  if (x->dims.size() > 4) return Fail(why, "tensors of rank above 4 are not supported");
  const std::string out = im.InPlace(n.inputs[0]) ? x->tensor : n.outputs[0];
  LayerEntry& l = im.Emit(n, "Activation", {x->tensor, out}, std::move(weights));
  l.params[0] = kind;
  l.alpha = alpha;
  Value v = *x;
  v.tensor = out;
  im.values[n.outputs[0]] = v;
  return true;
}

bool MapRelu(Importer& im, const OnnxNode& n, std::string* why) {
  return EmitActivation(im, n, engine::kActRelu, 0.f, {}, why);
}
bool MapSigmoid(Importer& im, const OnnxNode& n, std::string* why) {
  return EmitActivation(im, n, engine::kActSigmoid, 0.f, {}, why);
}
bool MapTanh(Importer& im, const OnnxNode& n, std::string* why) {
  return EmitActivation(im, n, engine::kActTanh, 0.f, {}, why);
}
bool MapLeakyRelu(Importer& im, const OnnxNode& n, std::string* why) {
  return EmitActivation(im, n, engine::kActLeakyRelu, AttrFloat(n, "alpha", 0.01f), {}, why);
}

bool MapClip(Importer& im, const OnnxNode& n, std::string* why) {
  float lo = -std::numeric_limits<float>::infinity(), hi = std::numeric_limits<float>::infinity();
  if (im.opset < 11) {
    lo = AttrFloat(n, "min", lo);
    hi = AttrFloat(n, "max", hi);
  } else {
    for (size_t i = 1; i <= 2; ++i) {
      if (!im.Has(n, i)) continue;
      const OnnxTensor* t = im.Const(n, i, why);
      if (t == nullptr) return false;
      if (t->elements() != 1) return Fail(why, "min and max must be scalars");
      (i == 1 ? lo : hi) = static_cast<float>(ValueAt(*t, 0));
    }
  }
  if (lo != 0.f || !(hi > 0.f))
    return Fail(why, "Clip maps only with min 0 and a max above 0 (ReLU, ReLU6)");
  if (std::isinf(hi)) return EmitActivation(im, n, engine::kActRelu, 0.f, {}, why);
  return EmitActivation(im, n, engine::kActRelu6, hi, {}, why);
}

// Composed activations: x * a + b with scalar constants, clipped to 0..1
// by ReLU6 with a cap of 1 (HardSigmoid), times x (HardSwish).
bool MapHard(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x = im.Runtime(n, 0, why);
  if (x == nullptr) return false;
  const bool swish = n.op_type == "HardSwish";
  const float a = swish ? 1.f / 6.f : AttrFloat(n, "alpha", 0.2f);
  const float b = swish ? 0.5f : AttrFloat(n, "beta", 0.5f);
  const std::string base = n.outputs[0];
  const std::string scaled = im.UniqueTensor(base + ".scaled"), shifted = im.UniqueTensor(base + ".shifted");
  const std::string gate = swish ? im.UniqueTensor(base + ".gate") : base;
  LayerEntry& mul = im.Emit(n, "BinaryOp", {x->tensor, im.ConstantTensor(n, {}, {a}), scaled}, {}, ".scale");
  mul.params[0] = engine::kOpMul;
  LayerEntry& add = im.Emit(n, "BinaryOp", {scaled, im.ConstantTensor(n, {}, {b}), shifted}, {}, ".shift");
  add.params[0] = engine::kOpAdd;
  LayerEntry& clip = im.Emit(n, "Activation", {shifted, gate}, {}, swish ? ".gate" : "");
  clip.params[0] = engine::kActRelu6;
  clip.alpha = 1.f;
  if (swish) {
    LayerEntry& times = im.Emit(n, "BinaryOp", {x->tensor, gate, base});
    times.params[0] = engine::kOpMul;
  }
  Value v = *x;
  v.tensor = base;
  v.shuffle_groups = 0;
  im.values[base] = v;
  return true;
}

bool MapPRelu(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x = im.Runtime(n, 0, why);
  if (x == nullptr) return false;
  const OnnxTensor* slope = im.Const(n, 1, why);
  if (slope == nullptr) return false;
  if (x->dims.size() < 2) return Fail(why, "input needs a channel axis");
  const int64_t c = x->dims[1];
  // The slope must vary along the channel axis only.
  if (slope->elements() != 1) {
    const Dims p = PadLeading(slope->dims, std::max(slope->dims.size(), x->dims.size()));
    for (size_t i = 0; i < p.size(); ++i)
      if (p[i] != 1 && i != p.size() - x->dims.size() + 1)
        return Fail(why, "slopes must be one per channel");
  }
  std::vector<float> s;
  if (!ChannelValues(*slope, c, &s, why)) return false;
  std::string in;
  Extents4 e;
  if (!im.Canonical(n, *x, x->dims, &in, &e, why)) return false;
  const std::string w = im.Weight(n, "slope", {1, 1, 1, static_cast<int32_t>(c)}, std::move(s));
  LayerEntry& l = im.Emit(n, "Activation", {in, n.outputs[0]}, {w});
  l.params[0] = engine::kActPRelu;
  im.SetRuntime(n.outputs[0], x->dims, n.outputs[0], e);
  return true;
}

// ---------------------------------------------------------------------------
// Pooling

bool MapPool(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x;
  std::string in;
  if (!Image(im, n, 0, &x, &in, why)) return false;
  if (n.outputs.size() > 1 && !n.outputs[1].empty()) return Fail(why, "the indices output is not supported");
  const bool average = n.op_type == "AveragePool";
  Window win;
  const int64_t hw[2] = {x->dims[2], x->dims[3]};
  if (!ReadWindow(n, hw, AttrInts(n, "kernel_shape"), &win, why)) return false;
  if (AttrInt(n, "ceil_mode", 0) != 0) {
    // Windows that start past the end are dropped, as ONNX does; the
    // extra end padding only makes the engine take the last partial one.
    for (int a = 0; a < 2; ++a) {
      const int64_t span = (win.kernel[a] - 1) * win.dilation[a] + 1;
      const int64_t padded = hw[a] + win.pad0[a] + win.pad1[a];
      int64_t o = (padded - span + win.stride[a] - 1) / win.stride[a] + 1;
      if ((o - 1) * win.stride[a] >= hw[a] + win.pad0[a]) --o;
      win.pad1[a] += (o - win.out[a]) * win.stride[a];
      win.out[a] = o;
    }
  }
  if (average && AttrInt(n, "count_include_pad", 0) != 0 &&
      (win.pad0[0] | win.pad0[1] | win.pad1[0] | win.pad1[1]) != 0)
    return Fail(why, "count_include_pad with padding is not supported (the engine averages inside the input)");
  const Dims od = {x->dims[0], x->dims[1], win.out[0], win.out[1]};
  Extents4 oe;
  CanonOf(od, &oe);
  LayerEntry& l = im.Emit(n, average ? "AveragePool" : "MaxPool", {in, n.outputs[0]});
  WindowParams(win, l.params);
  im.SetRuntime(n.outputs[0], od, n.outputs[0], oe);
  return true;
}

bool MapGlobalPool(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x;
  std::string in;
  if (!Image(im, n, 0, &x, &in, why)) return false;
  const Dims od = {x->dims[0], x->dims[1], 1, 1};
  Extents4 oe;
  CanonOf(od, &oe);
  if (n.op_type == "GlobalAveragePool") {
    im.Emit(n, "GlobalAveragePool", {in, n.outputs[0]});
  } else {
    Window win;
    win.kernel[0] = x->dims[2];
    win.kernel[1] = x->dims[3];
    LayerEntry& l = im.Emit(n, "MaxPool", {in, n.outputs[0]});
    WindowParams(win, l.params);
  }
  im.SetRuntime(n.outputs[0], od, n.outputs[0], oe);
  return true;
}

// ---------------------------------------------------------------------------
// Matrix products

// Index in ONNX order of each engine position of a memory shape.
std::vector<int64_t> OnnxIndexOf(const Extents4& m) {
  std::vector<int64_t> idx(static_cast<size_t>(Count(m)));
  size_t e = 0;
  for (int64_t b = 0; b < m[0]; ++b)
    for (int64_t y = 0; y < m[1]; ++y)
      for (int64_t x = 0; x < m[2]; ++x)
        for (int64_t c = 0; c < m[3]; ++c) idx[e++] = ((b * m[3] + c) * m[1] + y) * m[2] + x;
  return idx;
}

// Emits a Gemm of a run-time vector x (K values in ONNX order) with the
// weight rows w[N][K] (ONNX order) and an optional bias, writing output
// (ONNX shape od).  The weight's columns follow x's engine order.
bool EmitGemm(Importer& im, const OnnxNode& n, const Value& x, int64_t nout,
              const std::vector<float>& w, const std::vector<float>* bias, float alpha, float beta,
              const std::string& output, const Dims& od, std::string* why) {
  const int64_t k = Count(x.dims);
  Extents4 oe;
  if (!CanonOf(od, &oe) || Count(oe) != nout) return Fail(why, "output shape has no engine layout");
  const std::vector<int64_t> col = OnnxIndexOf(x.memory);
  std::vector<float> packed(w.size());
  for (int64_t r = 0; r < nout; ++r)
    for (int64_t e = 0; e < k; ++e) packed[r * k + e] = w[r * k + col[e]];
  std::vector<std::string> weights = {
      im.Weight(n, "weight", {static_cast<int32_t>(nout), 1, 1, static_cast<int32_t>(k)}, std::move(packed))};
  if (bias != nullptr) weights.push_back(im.Weight(n, "bias", {1, 1, 1, static_cast<int32_t>(nout)}, *bias));
  const std::string in = im.EngineAs(n, x, {1, 1, 1, static_cast<int32_t>(k)});
  LayerEntry& l = im.Emit(n, "Gemm", {in, output}, weights);
  l.alpha = alpha;
  l.beta = beta;
  im.SetRuntime(output, od, output, {1, 1, 1, static_cast<int32_t>(nout)});
  return true;
}

// Bias values for N outputs from a constant that broadcasts to [1, N].
bool BiasValues(const OnnxTensor& c, int64_t nout, std::vector<float>* out, std::string* why) {
  Dims b;
  if (!Broadcast(c.dims, {1, nout}, &b) || b != Dims{1, nout})
    return Fail(why, "bias shape " + DimsText(c.dims) + " does not broadcast to 1x" + std::to_string(nout));
  const std::vector<float> v = AsFloats(c);
  out->resize(static_cast<size_t>(nout));
  for (int64_t i = 0; i < nout; ++i) (*out)[i] = v.size() == 1 ? v[0] : v[i];
  return true;
}

bool MapGemm(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* a = im.Runtime(n, 0, why);
  if (a == nullptr) return false;
  const OnnxTensor* b = im.Const(n, 1, why);
  if (b == nullptr) return false;
  if (a->dims.size() != 2 || b->dims.size() != 2) return Fail(why, "A and B must be matrices");
  const bool ta = AttrInt(n, "transA", 0) != 0, tb = AttrInt(n, "transB", 0) != 0;
  const int64_t m = ta ? a->dims[1] : a->dims[0], k = ta ? a->dims[0] : a->dims[1];
  if (m != 1) return Fail(why, "only one row (batch 1) is supported");
  if ((tb ? b->dims[1] : b->dims[0]) != k) return Fail(why, "B disagrees with A");
  const int64_t nout = tb ? b->dims[0] : b->dims[1];
  std::vector<float> w(static_cast<size_t>(nout * k));
  const std::vector<float> bv = AsFloats(*b);
  for (int64_t r = 0; r < nout; ++r)
    for (int64_t i = 0; i < k; ++i) w[r * k + i] = tb ? bv[r * k + i] : bv[i * nout + r];
  std::vector<float> bias;
  if (im.Has(n, 2)) {
    const OnnxTensor* c = im.Const(n, 2, why);
    if (c == nullptr || !BiasValues(*c, nout, &bias, why)) return false;
  }
  return EmitGemm(im, n, *a, nout, w, im.Has(n, 2) ? &bias : nullptr, AttrFloat(n, "alpha", 1.f),
                  AttrFloat(n, "beta", 1.f), n.outputs[0], {1, nout}, why);
}

// MatMul of a vector with a constant matrix; a following Add of a constant
// bias (its only consumer) joins the Gemm.
bool MapMatMul(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* a = im.Runtime(n, 0, why);
  if (a == nullptr) return false;
  const OnnxTensor* b = im.Const(n, 1, why);
  if (b == nullptr) return false;
  if (b->dims.size() != 2) return Fail(why, "B must be a constant matrix");
  if (a->dims.empty() || Count(a->dims) != a->dims.back())
    return Fail(why, "A must be a single row (batch 1)");
  const int64_t k = b->dims[0], nout = b->dims[1];
  if (a->dims.back() != k) return Fail(why, "B disagrees with A");
  std::vector<float> w(static_cast<size_t>(nout * k));
  const std::vector<float> bv = AsFloats(*b);
  for (int64_t r = 0; r < nout; ++r)
    for (int64_t i = 0; i < k; ++i) w[r * k + i] = bv[i * nout + r];
  Dims od = a->dims.size() == 1 ? Dims{nout} : a->dims;
  od.back() = nout;
  std::string output = n.outputs[0];
  std::vector<float> bias;
  const int next = im.SoleConsumer(n.outputs[0]);
  if (next >= 0 && im.graph.nodes[next].op_type == "Add" && im.graph.nodes[next].inputs.size() == 2 &&
      !im.graph.nodes[next].outputs.empty() && !im.graph.nodes[next].outputs[0].empty()) {
    const OnnxNode& add = im.graph.nodes[next];
    const size_t other = add.inputs[0] == n.outputs[0] ? 1 : 0;
    auto it = im.values.find(add.inputs[other]);
    Dims sum;
    std::string ignored;
    if (add.inputs[0] != add.inputs[1] && it != im.values.end() && it->second.constant &&
        Broadcast(od, it->second.k.dims, &sum) && sum == od &&
        BiasValues(it->second.k, nout, &bias, &ignored)) {
      im.absorbed[next] = true;
      output = add.outputs[0];
    }
  }
  return EmitGemm(im, n, *a, nout, w, bias.empty() ? nullptr : &bias, 1.f, 1.f, output, od, why);
}

// ---------------------------------------------------------------------------
// Shape changes

// Gives a run-time value a new ONNX shape with the same values: no layer,
// the engine tensor and its memory order stay (the consumers check that
// order).  A rank-5 [N, g, C/g, H, W] view of a rank-4 value may start a
// channel shuffle; the view back to [N, C, H, W] after the shuffle's
// Transpose emits the engine's Shuffle.
bool Reshaped(Importer& im, const OnnxNode& n, const Value& x, const Dims& dims, std::string* why) {
  if (Count(dims) != Count(x.dims)) return Fail(why, "element count changes");
  if (x.shuffle_transposed) {
    const Dims& d = x.dims;
    Extents4 e;
    if (dims != Dims{d[0], d[1] * d[2], d[3], d[4]} || !CanonOf(dims, &e) || !SameOrder(x.memory, e))
      return Fail(why, "a transposed 5-D view maps only as a channel shuffle (Reshape, Transpose 0,2,1,3,4, Reshape)");
    LayerEntry& l = im.Emit(n, "Shuffle", {im.EngineAs(n, x, e), n.outputs[0]});
    l.params[0] = x.shuffle_groups;
    im.SetRuntime(n.outputs[0], dims, n.outputs[0], e);
    return true;
  }
  Value v = x;
  v.dims = dims;
  v.shuffle_groups = 0;
  Extents4 e;
  if (dims.size() == 5 && x.dims.size() == 4 && dims[0] == x.dims[0] && dims[1] * dims[2] == x.dims[1] &&
      dims[3] == x.dims[2] && dims[4] == x.dims[3] && CanonOf(x.dims, &e) && SameOrder(x.memory, e))
    v.shuffle_groups = static_cast<int32_t>(dims[1]);
  im.values[n.outputs[0]] = v;
  return true;
}

// The shape a Reshape asks for: 0 copies the input's extent (unless
// allowzero), -1 takes the rest.
bool ReshapeTarget(const Dims& in, const OnnxTensor& shape, bool allowzero, Dims* out, std::string* why) {
  *out = AsInts(shape);
  int open = -1;
  int64_t known = 1;
  for (size_t i = 0; i < out->size(); ++i) {
    int64_t& d = (*out)[i];
    if (d == 0 && !allowzero) {
      if (i >= in.size()) return Fail(why, "shape copies an extent the input does not have");
      d = in[i];
    }
    if (d == -1) {
      if (open >= 0) return Fail(why, "shape has more than one -1");
      open = static_cast<int>(i);
    } else if (d < 1) {
      return Fail(why, "shape extent " + std::to_string(d) + " is not supported");
    } else {
      if (known > engine::kMaxElements / d) return Fail(why, "shape too large");
      known *= d;
    }
  }
  const int64_t total = Count(in);
  if (open >= 0) {
    if (total % known != 0) return Fail(why, "element count does not divide");
    (*out)[open] = total / known;
  } else if (known != total) {
    return Fail(why, "element count changes from " + DimsText(in) + " to " + DimsText(*out));
  }
  return true;
}

// The shape operation of a node on shape in: Reshape, Flatten, Squeeze,
// Unsqueeze.  Shared by run-time values and constants.
bool ShapeOf(Importer& im, const OnnxNode& n, const Dims& in, Dims* out, std::string* why) {
  const std::string& op = n.op_type;
  if (op == "Reshape") {
    const OnnxTensor* s = im.Const(n, 1, why);
    if (s == nullptr) return false;
    if (s->dims.size() != 1) return Fail(why, "shape must be 1-D");
    return ReshapeTarget(in, *s, AttrInt(n, "allowzero", 0) != 0, out, why);
  }
  if (op == "Flatten") {
    int64_t axis = AttrInt(n, "axis", 1);
    if (axis < 0) axis += static_cast<int64_t>(in.size());
    if (axis < 0 || axis > static_cast<int64_t>(in.size())) return Fail(why, "axis out of range");
    const Dims a(in.begin(), in.begin() + axis), b(in.begin() + axis, in.end());
    *out = {Count(a), Count(b)};
    return true;
  }
  Dims axes = AttrInts(n, "axes");
  if (im.opset >= 13 && im.Has(n, 1)) {
    const OnnxTensor* t = im.Const(n, 1, why);
    if (t == nullptr) return false;
    axes = AsInts(*t);
  }
  if (op == "Squeeze") {
    std::set<int64_t> drop;
    for (int64_t a : axes) {
      int64_t x;
      if (!NormAxis(a, in.size(), &x) || in[x] != 1) return Fail(why, "axes must name extents of 1");
      drop.insert(x);
    }
    out->clear();
    for (size_t i = 0; i < in.size(); ++i)
      if (axes.empty() ? in[i] != 1 : drop.count(static_cast<int64_t>(i)) == 0) out->push_back(in[i]);
    return true;
  }
  // Unsqueeze
  const size_t rank = in.size() + axes.size();
  std::set<int64_t> add;
  for (int64_t a : axes) {
    int64_t x;
    if (!NormAxis(a, rank, &x) || !add.insert(x).second) return Fail(why, "axes out of range or repeated");
  }
  out->clear();
  size_t k = 0;
  for (size_t i = 0; i < rank; ++i) out->push_back(add.count(static_cast<int64_t>(i)) ? 1 : in[k++]);
  return true;
}

bool MapReshape(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x = im.Input(n, 0, why);
  if (x == nullptr) return false;
  if (x->constant) {
    Dims d;
    if (!ShapeOf(im, n, x->k.dims, &d, why)) return false;
    OnnxTensor t = x->k;
    t.dims = d;
    im.SetConst(n.outputs[0], std::move(t));
    return true;
  }
  Dims d;
  return ShapeOf(im, n, x->dims, &d, why) && Reshaped(im, n, *x, d, why);
}

bool MapTranspose(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x = im.Input(n, 0, why);
  if (x == nullptr) return false;
  const size_t rank = x->constant ? x->k.dims.size() : x->dims.size();
  Dims perm = AttrInts(n, "perm");
  if (perm.empty())
    for (size_t i = 0; i < rank; ++i) perm.insert(perm.begin(), static_cast<int64_t>(i));
  Dims sorted = perm;
  std::sort(sorted.begin(), sorted.end());
  for (size_t i = 0; i < sorted.size(); ++i)
    if (sorted.size() != rank || sorted[i] != static_cast<int64_t>(i)) return Fail(why, "perm is not a permutation of the axes");
  if (x->constant) {
    const Dims& d = x->k.dims;
    Dims od(rank), st = Strides(d);
    for (size_t i = 0; i < rank; ++i) od[i] = d[perm[i]];
    Dims idx(rank, 0);
    std::vector<int64_t> src;
    src.reserve(static_cast<size_t>(Count(od)));
    if (Count(od) > 0) do {
        int64_t f = 0;
        for (size_t i = 0; i < rank; ++i) f += idx[i] * st[perm[i]];
        src.push_back(f);
      } while (NextIndex(idx, od));
    im.SetConst(n.outputs[0], Gathered(x->k, od, [&](int64_t k) { return src[k]; }));
    return true;
  }
  if (x->shuffle_groups != 0 && !x->shuffle_transposed && perm == Dims{0, 2, 1, 3, 4}) {
    Value v = *x;
    v.dims = {x->dims[0], x->dims[2], x->dims[1], x->dims[3], x->dims[4]};
    v.shuffle_transposed = true;
    im.values[n.outputs[0]] = v;
    return true;
  }
  // A permutation that moves only extents of 1 keeps the values' order.
  Dims moved;
  for (int64_t p : perm)
    if (x->dims[p] != 1) moved.push_back(p);
  if (x->dims.size() <= 4 && std::is_sorted(moved.begin(), moved.end())) {
    Dims od;
    for (int64_t p : perm) od.push_back(x->dims[p]);
    return Reshaped(im, n, *x, od, why);
  }
  return Fail(why, "Transpose maps only as a channel shuffle or when it keeps the order of the values");
}

bool MapIdentity(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x = im.Input(n, 0, why);
  if (x == nullptr) return false;
  if (n.op_type == "Dropout") {
    if (n.outputs.size() > 1 && !n.outputs[1].empty() && im.consumers.count(n.outputs[1]) +
                                                                 im.graph_outputs.count(n.outputs[1]) > 0)
      return Fail(why, "the mask output is not supported");
    if (im.Has(n, 2)) {
      const OnnxTensor* t = im.Const(n, 2, why);
      if (t == nullptr) return false;
      if (t->elements() != 1 || ValueAt(*t, 0) != 0) return Fail(why, "training mode is not supported");
    }
  }
  if (n.op_type == "Cast") {
    const int64_t to = AttrInt(n, "to", 0);
    if (x->constant) {
      if (to == kOnnxFloat) {
        im.SetConst(n.outputs[0], FloatTensor(x->k.dims, AsFloats(x->k)));
      } else if (to == kOnnxInt64 || to == kOnnxInt32) {
        im.SetConst(n.outputs[0], IntTensor(x->k.dims, AsInts(x->k)));
      } else {
        return Fail(why, "Cast to element type " + std::to_string(to) + " is not supported");
      }
      return true;
    }
    if (to != kOnnxFloat) return Fail(why, "run-time values stay float32");
  }
  im.values[n.outputs[0]] = *x;
  return true;
}

// ---------------------------------------------------------------------------
// Channel operations

bool MapConcat(Importer& im, const OnnxNode& n, std::string* why) {
  std::vector<const Value*> in;
  for (size_t i = 0; i < n.inputs.size(); ++i) {
    const Value* v = im.Input(n, i, why);
    if (v == nullptr) return false;
    in.push_back(v);
  }
  if (in.empty()) return Fail(why, "no inputs");
  const Dims& d0 = in[0]->constant ? in[0]->k.dims : in[0]->dims;
  int64_t axis;
  if (!NormAxis(AttrInt(n, "axis", 0), d0.size(), &axis)) return Fail(why, "axis out of range");
  Dims od = d0;
  od[axis] = 0;
  for (const Value* v : in) {
    const Dims& d = v->constant ? v->k.dims : v->dims;
    if (d.size() != d0.size()) return Fail(why, "inputs differ in rank");
    for (size_t i = 0; i < d.size(); ++i)
      if (static_cast<int64_t>(i) != axis && d[i] != d0[i]) return Fail(why, "inputs disagree outside the axis");
    od[axis] += d[axis];
  }
  if (EngineAxis(od.size(), axis) != 3)
    return Fail(why, "concatenation along axis " + std::to_string(axis) + " of a rank-" +
                         std::to_string(od.size()) + " tensor (the engine concatenates channels only)");
  std::vector<std::string> tensors;
  for (size_t i = 0; i < in.size(); ++i) {
    std::string t;
    Extents4 e;
    if (in[i]->constant) {
      tensors.push_back(im.ConstantTensor(n, in[i]->k.dims, AsFloats(in[i]->k)));
    } else if (im.Canonical(n, *in[i], in[i]->dims, &t, &e, why)) {
      tensors.push_back(t);
    } else {
      return false;
    }
  }
  Extents4 oe;
  if (!CanonOf(od, &oe)) return Fail(why, "output has no engine layout");
  if (tensors.size() == 1) {
    Value v = *in[0];
    im.values[n.outputs[0]] = v;
    return true;
  }
  // The engine's Concat takes up to kMaxTensorNames - 1 inputs: longer
  // lists are joined in steps.
  const size_t step = engine::kMaxTensorNames - 1;
  while (tensors.size() > step) {
    std::vector<std::string> part(tensors.begin(), tensors.begin() + step);
    const std::string t = im.UniqueTensor(n.outputs[0] + ".part");
    part.push_back(t);
    im.Emit(n, "Concat", part, {}, ".part");
    tensors.erase(tensors.begin(), tensors.begin() + step);
    tensors.insert(tensors.begin(), t);
  }
  tensors.push_back(n.outputs[0]);
  im.Emit(n, "Concat", tensors);
  im.SetRuntime(n.outputs[0], od, n.outputs[0], oe);
  return true;
}

// One engine Slice over h, w and c of the canonical engine tensor in:
// ranges[a] = {start, end, step} for engine axes h, w, c ({-1} whole).
void EmitSlice(Importer& im, const OnnxNode& n, const std::string& in, const int64_t ranges[3][3],
               const std::string& output, const Dims& od) {
  LayerEntry& l = im.Emit(n, "Slice", {in, output});
  for (int a = 0; a < 3; ++a)
    for (int k = 0; k < 3; ++k) l.params[3 * a + k] = static_cast<int32_t>(ranges[a][k]);
  Extents4 oe;
  CanonOf(od, &oe);
  im.SetRuntime(output, od, output, oe);
}

// Whole-axis ranges for the three sliceable engine axes.
void WholeRanges(int64_t ranges[3][3]) {
  for (int a = 0; a < 3; ++a) {
    ranges[a][0] = -1;
    ranges[a][1] = 0;
    ranges[a][2] = 1;
  }
}

// The engine slice axis (0 h, 1 w, 2 c) of an ONNX axis, or -1.
int SliceAxis(size_t rank, int64_t axis) {
  const int e = EngineAxis(rank, axis);
  return e >= 1 ? e - 1 : -1;
}

bool MapSplit(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x = im.Runtime(n, 0, why);
  if (x == nullptr) return false;
  int64_t axis;
  if (!NormAxis(AttrInt(n, "axis", 0), x->dims.size(), &axis)) return Fail(why, "axis out of range");
  const int sa = SliceAxis(x->dims.size(), axis);
  if (sa < 0) return Fail(why, "splitting along axis " + std::to_string(axis) + " has no engine equivalent");
  const int64_t extent = x->dims[axis];
  const int64_t parts = static_cast<int64_t>(n.outputs.size());
  Dims split = AttrInts(n, "split");
  if (im.opset >= 13 && im.Has(n, 1)) {
    const OnnxTensor* t = im.Const(n, 1, why);
    if (t == nullptr) return false;
    split = AsInts(*t);
  }
  if (split.empty()) {
    const int64_t each = (extent + parts - 1) / parts;
    for (int64_t i = 0; i < parts; ++i) split.push_back(std::min(each, extent - i * each));
  }
  if (static_cast<int64_t>(split.size()) != parts) return Fail(why, "split sizes disagree with the outputs");
  for (const std::string& o : n.outputs)
    if (o.empty()) return Fail(why, "every output needs a name");
  int64_t total = 0;
  for (int64_t s : split) {
    if (s < 1 || s > extent) return Fail(why, "split sizes must be 1 to the axis extent");
    total += s;
  }
  if (total != extent) return Fail(why, "split sizes do not add up to the axis extent");
  std::string in;
  Extents4 e;
  if (!im.Canonical(n, *x, x->dims, &in, &e, why)) return false;
  const bool equal = std::all_of(split.begin(), split.end(), [&](int64_t s) { return s == split[0]; });
  if (sa == 2 && equal && parts + 1 <= engine::kMaxTensorNames) {
    std::vector<std::string> tensors = {in};
    tensors.insert(tensors.end(), n.outputs.begin(), n.outputs.end());
    im.Emit(n, "Split", tensors);
    for (const std::string& o : n.outputs) {
      Dims od = x->dims;
      od[axis] = split[0];
      Extents4 oe;
      CanonOf(od, &oe);
      im.SetRuntime(o, od, o, oe);
    }
    return true;
  }
  int64_t start = 0;
  for (int64_t i = 0; i < parts; ++i) {
    int64_t ranges[3][3];
    WholeRanges(ranges);
    ranges[sa][0] = start;
    ranges[sa][1] = start + split[i];
    Dims od = x->dims;
    od[axis] = split[i];
    EmitSlice(im, n, in, ranges, n.outputs[i], od);
    start += split[i];
  }
  return true;
}

// Slice on constants (shape arithmetic) and on run-time values.
bool MapSlice(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x = im.Input(n, 0, why);
  if (x == nullptr) return false;
  const Dims& d = x->constant ? x->k.dims : x->dims;
  Dims starts, ends, axes, steps;
  if (im.opset < 10) {
    starts = AttrInts(n, "starts");
    ends = AttrInts(n, "ends");
    axes = AttrInts(n, "axes");
  } else {
    Dims* lists[4] = {&starts, &ends, &axes, &steps};
    for (size_t i = 1; i <= 4; ++i) {
      if (!im.Has(n, i)) continue;
      const OnnxTensor* t = im.Const(n, i, why);
      if (t == nullptr) return false;
      *lists[i - 1] = AsInts(*t);
    }
  }
  if (axes.empty())
    for (size_t i = 0; i < starts.size(); ++i) axes.push_back(static_cast<int64_t>(i));
  if (steps.empty()) steps.assign(starts.size(), 1);
  if (ends.size() != starts.size() || axes.size() != starts.size() || steps.size() != starts.size())
    return Fail(why, "starts, ends, axes and steps disagree in length");
  Dims from(d.size(), 0), by(d.size(), 1), od = d;
  for (size_t i = 0; i < starts.size(); ++i) {
    int64_t a;
    if (!NormAxis(axes[i], d.size(), &a)) return Fail(why, "axis out of range");
    // Any step beyond the extent takes one element, so capping it keeps
    // the arithmetic in range.
    const int64_t step = std::min(std::max(steps[i], -engine::kMaxElements), engine::kMaxElements);
    if (step == 0) return Fail(why, "step 0");
    if (step < 0 && !x->constant) return Fail(why, "only positive steps are supported");
    // Clamped to 0..d (forward) or -1..d-1 (backward), as ONNX does.
    const int64_t lo = step > 0 ? 0 : -1, hi = step > 0 ? d[a] : d[a] - 1;
    auto clamp = [&](int64_t v) {
      if (v < 0) v = v < -d[a] ? lo : v + d[a];
      return std::min(std::max(v, lo), hi);
    };
    const int64_t s = clamp(starts[i]), e = clamp(ends[i]);
    const int64_t span = step > 0 ? e - s : s - e, by_abs = step > 0 ? step : -step;
    if (span <= 0) return Fail(why, "empty slices are not supported");
    from[a] = s;
    by[a] = step;
    od[a] = (span + by_abs - 1) / by_abs;
  }
  if (x->constant) {
    const Dims st = Strides(d);
    std::vector<int64_t> src;
    Dims idx(od.size(), 0);
    if (Count(od) > 0) do {
        int64_t f = 0;
        for (size_t i = 0; i < od.size(); ++i) f += (from[i] + idx[i] * by[i]) * st[i];
        src.push_back(f);
      } while (NextIndex(idx, od));
    im.SetConst(n.outputs[0], Gathered(x->k, od, [&](int64_t k) { return src[k]; }));
    return true;
  }
  int64_t ranges[3][3];
  WholeRanges(ranges);
  for (size_t a = 0; a < d.size(); ++a) {
    if (od[a] == d[a] && by[a] == 1) continue;
    const int sa = SliceAxis(d.size(), static_cast<int64_t>(a));
    if (sa < 0) return Fail(why, "slicing axis " + std::to_string(a) + " has no engine equivalent");
    ranges[sa][0] = from[a];
    ranges[sa][1] = from[a] + (od[a] - 1) * by[a] + 1;
    ranges[sa][2] = by[a];
  }
  std::string in;
  Extents4 e;
  if (!im.Runtime(n, 0, why) || !im.Canonical(n, *x, x->dims, &in, &e, why)) return false;
  EmitSlice(im, n, in, ranges, n.outputs[0], od);
  return true;
}

bool MapSoftmax(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x = im.Runtime(n, 0, why);
  if (x == nullptr) return false;
  const Dims& d = x->dims;
  int64_t axis;
  if (!NormAxis(AttrInt(n, "axis", im.opset >= 13 ? -1 : 1), d.size(), &axis)) return Fail(why, "axis out of range");
  // Before opset 13 the softmax runs over all axes from axis on.
  const size_t last = im.opset >= 13 ? static_cast<size_t>(axis) : d.size() - 1;
  const int64_t outer = Count(Dims(d.begin(), d.begin() + axis));
  const int64_t span = Count(Dims(d.begin() + axis, d.begin() + last + 1));
  const int64_t trailing = Count(Dims(d.begin() + last + 1, d.end()));
  std::string in;
  Extents4 e;
  Extents4 canon;
  if (CanonOf(d, &canon) && EngineAxis(d.size(), axis) == 3 && span == d[axis] &&
      SameOrder(x->memory, canon)) {
    // Over the channels of each pixel.
    in = im.EngineAs(n, *x, canon);
    e = canon;
  } else if (trailing == 1 && Plain(x->memory)) {
    // Over contiguous runs of span values.
    e = {static_cast<int32_t>(outer), 1, 1, static_cast<int32_t>(span)};
    in = im.EngineAs(n, *x, e);
  } else {
    return Fail(why, "softmax over axis " + std::to_string(axis) + " of " + DimsText(d) +
                         " has no engine equivalent (channels only)");
  }
  im.Emit(n, "Softmax", {in, n.outputs[0]});
  Value v;
  v.dims = d;
  v.tensor = n.outputs[0];
  v.memory = v.engine = e;
  im.values[n.outputs[0]] = v;
  return true;
}

// ---------------------------------------------------------------------------
// Elementwise arithmetic

// Folds a binary operation on two constants (numpy broadcasting).
bool FoldBinary(Importer& im, const OnnxNode& n, std::string* why) {
  const OnnxTensor* a = im.Const(n, 0, why);
  const OnnxTensor* b = a ? im.Const(n, 1, why) : nullptr;
  if (b == nullptr) return false;
  Dims od;
  if (!Broadcast(a->dims, b->dims, &od)) return Fail(why, "shapes do not broadcast");
  if (Count(od) > kMaxFolded) return Fail(why, "constant too large to fold");
  const bool ints = IsInt(*a) && IsInt(*b);
  const std::string& op = n.op_type;
  OnnxTensor o = ints ? IntTensor(od, {}) : FloatTensor(od, {});
  Dims idx(od.size(), 0);
  if (Count(od) > 0) do {
      const int64_t ia = BroadcastIndex(idx, a->dims), ib = BroadcastIndex(idx, b->dims);
      if (ints) {
        // Wraps on overflow (two's complement) instead of being undefined.
        const int64_t sp = a->i64[ia], sq = b->i64[ib];
        const uint64_t p = static_cast<uint64_t>(sp), q = static_cast<uint64_t>(sq);
        if (op == "Div" && (sq == 0 || (sq == -1 && sp == std::numeric_limits<int64_t>::min())))
          return Fail(why, "integer division out of range");
        o.i64.push_back(op == "Add"   ? static_cast<int64_t>(p + q)
                        : op == "Sub" ? static_cast<int64_t>(p - q)
                        : op == "Mul" ? static_cast<int64_t>(p * q)
                                      : sp / sq);
      } else {
        const double x = ValueAt(*a, ia), y = ValueAt(*b, ib);
        o.f32.push_back(static_cast<float>(op == "Add" ? x + y : op == "Sub" ? x - y : op == "Mul" ? x * y : x / y));
      }
    } while (NextIndex(idx, od));
  im.SetConst(n.outputs[0], std::move(o));
  return true;
}

// Elementwise in the memory order of a run-time side whose shape is the
// output's, for values held in an order the engine cannot broadcast in
// (a flattened NCHW tensor): the other side is a constant, broadcast to the
// output and laid out the same way, or a run-time value held alike.
bool MapBinaryInOrder(Importer& im, const OnnxNode& n, const Value& a, const Value& b, const Dims& od,
                      int32_t kind) {
  const Value* x = !a.constant && a.dims == od ? &a : !b.constant && b.dims == od ? &b : nullptr;
  if (x == nullptr) return false;
  const Value& y = x == &a ? b : a;
  std::string other;
  if (y.constant) {
    if (Count(od) > engine::kMaxElements) return false;
    std::vector<float> full(static_cast<size_t>(Count(od)));
    Dims idx(od.size(), 0);
    size_t k = 0;
    do {
      full[k++] = static_cast<float>(ValueAt(y.k, BroadcastIndex(idx, y.k.dims)));
    } while (NextIndex(idx, od));
    if (n.op_type == "Div")
      for (float& f : full) f = 1.f / f;
    std::vector<float> ordered(full.size());
    OnnxToEngineOrder(full.data(), x->memory, ordered.data());
    other = im.EngineConstant(im.NodeName(n) + ".const", x->engine, std::move(ordered));
  } else if (y.dims == od && SameOrder(y.memory, x->memory)) {
    other = im.EngineAs(n, y, x->engine);
  } else {
    return false;
  }
  LayerEntry& l = im.Emit(n, "BinaryOp", x == &a ? std::vector<std::string>{x->tensor, other, n.outputs[0]}
                                                 : std::vector<std::string>{other, x->tensor, n.outputs[0]});
  l.params[0] = kind;
  Value r = *x;
  r.tensor = n.outputs[0];
  im.values[n.outputs[0]] = r;
  return true;
}

bool MapBinary(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* a = im.Input(n, 0, why);
  const Value* b = a ? im.Input(n, 1, why) : nullptr;
  if (b == nullptr) return false;
  std::string op = n.op_type;
  if (op == "Div" && (!b->constant || a->constant))
    return Fail(why, "division maps only by a constant");
  const Dims& da = a->constant ? a->k.dims : a->dims;
  const Dims& db = b->constant ? b->k.dims : b->dims;
  Dims od;
  if (!Broadcast(da, db, &od)) return Fail(why, "shapes do not broadcast");
  if (od.size() > 4) return Fail(why, "tensors of rank above 4 are not supported");
  const int32_t kind = op == "Add" ? engine::kOpAdd : op == "Sub" ? engine::kOpSub : engine::kOpMul;
  // A run-time value with a single constant: any layout, the values keep
  // their order.
  const Value* single = a->constant ? a : b;
  const Value* other = a->constant ? b : a;
  if (single->constant && !other->constant && single->k.elements() == 1 && od == other->dims) {
    std::vector<float> v = AsFloats(single->k);
    if (op == "Div") v[0] = 1.f / v[0];
    const std::string k = im.ConstantTensor(n, {}, v);
    LayerEntry& l = im.Emit(n, "BinaryOp", a->constant ? std::vector<std::string>{k, other->tensor, n.outputs[0]}
                                                       : std::vector<std::string>{other->tensor, k, n.outputs[0]});
    l.params[0] = kind;
    Value r = *other;
    r.tensor = n.outputs[0];
    im.values[n.outputs[0]] = r;
    return true;
  }
  const Value* side[2] = {a, b};
  bool canonical = true;
  for (const Value* v : side) {
    Extents4 e;
    canonical = canonical && (v->constant || (CanonOf(PadLeading(v->dims, od.size()), &e) && SameOrder(v->memory, e)));
  }
  if (!canonical && MapBinaryInOrder(im, n, *a, *b, od, kind)) return true;
  std::string t[2];
  for (int i = 0; i < 2; ++i) {
    const Dims padded = PadLeading(side[i]->constant ? side[i]->k.dims : side[i]->dims, od.size());
    if (side[i]->constant) {
      std::vector<float> v = AsFloats(side[i]->k);
      if (op == "Div")
        for (float& f : v) f = 1.f / f;
      t[i] = im.ConstantTensor(n, padded, v);
    } else {
      if (!im.Runtime(n, i, why)) return false;
      Extents4 e;
      if (!im.Canonical(n, *side[i], padded, &t[i], &e, why)) return false;
    }
  }
  LayerEntry& l = im.Emit(n, "BinaryOp", {t[0], t[1], n.outputs[0]});
  l.params[0] = kind;
  Extents4 oe;
  CanonOf(od, &oe);
  im.SetRuntime(n.outputs[0], od, n.outputs[0], oe);
  return true;
}

// ---------------------------------------------------------------------------
// Resize and padding

// The engine's resize modes and the ONNX forms they match (see
// engine/simd/resize.cpp: nearest takes floor(o * in / out), or with
// align_corners round(o * (in-1) / (out-1)); bilinear samples at
// o * in / out, or o * (in-1) / (out-1)).
bool ResizeMode(Importer& im, const OnnxNode& n, const int64_t factor[2], int32_t* mode,
                bool* align, std::string* why) {
  std::string m = AttrString(n, "mode", "nearest");
  const bool modern = n.op_type == "Resize" && im.opset >= 11;
  const std::string coord = modern ? AttrString(n, "coordinate_transformation_mode", "half_pixel") : "asymmetric";
  const std::string nearest = modern ? AttrString(n, "nearest_mode", "round_prefer_floor") : "floor";
  if (AttrInt(n, "antialias", 0) != 0) return Fail(why, "antialias is not supported");
  if (n.attribute("axes") != nullptr) return Fail(why, "the axes attribute is not supported");
  if (AttrString(n, "keep_aspect_ratio_policy", "stretch") != "stretch")
    return Fail(why, "keep_aspect_ratio_policy other than stretch is not supported");
  *align = coord == "align_corners";
  if (m == "nearest") {
    *mode = engine::core::kResizeNearest;
    if (!modern && !(factor[0] > 0 && factor[1] > 0))
      return Fail(why, "nearest resize of this operator set maps only for whole upscale factors");
    if (coord == "asymmetric" && nearest == "floor") return true;
    if (*align && nearest == "round_prefer_ceil") return true;
    // Half-pixel centres with rounding pick floor(o / k) for a whole
    // upscale factor k.
    if ((coord == "half_pixel" || coord == "pytorch_half_pixel") &&
        (nearest == "round_prefer_floor" || nearest == "round_prefer_ceil") && factor[0] > 0 && factor[1] > 0) {
      *align = false;
      return true;
    }
    return Fail(why, "nearest resize with " + coord + " coordinates and " + nearest +
                         " rounding is not supported");
  }
  if (m == "linear" || m == "bilinear") {
    *mode = engine::core::kResizeBilinear;
    if (coord == "asymmetric" || *align) return true;
    return Fail(why, "linear resize with " + coord + " coordinates is not supported (asymmetric or align_corners)");
  }
  return Fail(why, "resize mode " + m + " is not supported");
}

bool MapResize(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x;
  std::string in;
  if (!Image(im, n, 0, &x, &in, why)) return false;
  // Scales (by attribute before Upsample-9) or sizes.
  std::vector<float> scales;
  Dims sizes;
  if (n.op_type == "Upsample" && im.opset < 9) {
    const OnnxAttribute* s = n.attribute("scales");
    if (s != nullptr) scales = s->floats;
  } else {
    const size_t scale_input = n.op_type == "Resize" && im.opset >= 11 ? 2 : 1;
    if (im.Has(n, scale_input)) {
      const OnnxTensor* t = im.Const(n, scale_input, why);
      if (t == nullptr) return false;
      scales = AsFloats(*t);
    }
    if (n.op_type == "Resize" && im.opset >= 11 && im.Has(n, 3)) {
      const OnnxTensor* t = im.Const(n, 3, why);
      if (t == nullptr) return false;
      sizes = AsInts(*t);
    }
  }
  Dims od = x->dims;
  if (!sizes.empty()) {
    if (sizes.size() != 4) return Fail(why, "sizes must have four values");
    od = sizes;
  } else if (scales.size() == 4) {
    for (int a = 2; a < 4; ++a) {
      const double v = x->dims[a] * double{scales[a]};
      if (!(v >= 1 && v <= engine::kMaxElements) || v != std::floor(v))
        return Fail(why, "scales must give whole output extents");
      od[a] = static_cast<int64_t>(v);
    }
    if (scales[0] != 1.f || scales[1] != 1.f) return Fail(why, "only height and width may be scaled");
  } else {
    return Fail(why, "needs four scales or four sizes");
  }
  if (od[0] != x->dims[0] || od[1] != x->dims[1]) return Fail(why, "only height and width may be resized");
  int64_t factor[2];
  for (int a = 0; a < 2; ++a)
    factor[a] = od[2 + a] % x->dims[2 + a] == 0 ? od[2 + a] / x->dims[2 + a] : 0;
  int32_t mode;
  bool align;
  if (!ResizeMode(im, n, factor, &mode, &align, why)) return false;
  Extents4 oe;
  if (!CanonOf(od, &oe)) return Fail(why, "output too large");
  LayerEntry& l = im.Emit(n, "Resize", {in, n.outputs[0]});
  l.params[0] = mode;
  l.params[1] = align ? 1 : 0;
  l.alpha = static_cast<float>(static_cast<double>(od[3]) / static_cast<double>(x->dims[3]));
  l.beta = static_cast<float>(static_cast<double>(od[2]) / static_cast<double>(x->dims[2]));
  im.SetRuntime(n.outputs[0], od, n.outputs[0], oe);
  return true;
}

bool MapPad(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x;
  std::string in;
  if (!Image(im, n, 0, &x, &in, why)) return false;
  const std::string mode = AttrString(n, "mode", "constant");
  if (mode != "constant") return Fail(why, "pad mode " + mode + " is not supported (the engine pads with zeros)");
  Dims pads;
  float value = 0.f;
  if (im.opset < 11) {
    pads = AttrInts(n, "pads");
    value = AttrFloat(n, "value", 0.f);
  } else {
    const OnnxTensor* p = im.Const(n, 1, why);
    if (p == nullptr) return false;
    pads = AsInts(*p);
    if (im.Has(n, 2)) {
      const OnnxTensor* v = im.Const(n, 2, why);
      if (v == nullptr) return false;
      if (v->elements() != 1) return Fail(why, "constant_value must be a scalar");
      value = static_cast<float>(ValueAt(*v, 0));
    }
    if (im.Has(n, 3)) return Fail(why, "the axes input is not supported");
  }
  if (value != 0.f) return Fail(why, "padding with a value other than 0 is not supported");
  if (pads.size() != 8) return Fail(why, "pads must have eight values");
  if (pads[0] || pads[1] || pads[4] || pads[5]) return Fail(why, "only height and width may be padded");
  for (int i : {2, 3, 6, 7})
    if (pads[i] < 0 || pads[i] > 65535) return Fail(why, "pads must be 0 to 65535");
  const Dims od = {x->dims[0], x->dims[1], x->dims[2] + pads[2] + pads[6], x->dims[3] + pads[3] + pads[7]};
  Extents4 oe;
  if (!CanonOf(od, &oe)) return Fail(why, "output too large");
  LayerEntry& l = im.Emit(n, "Pad", {in, n.outputs[0]});
  l.params[0] = static_cast<int32_t>(pads[3]);
  l.params[1] = static_cast<int32_t>(pads[7]);
  l.params[2] = static_cast<int32_t>(pads[2]);
  l.params[3] = static_cast<int32_t>(pads[6]);
  im.SetRuntime(n.outputs[0], od, n.outputs[0], oe);
  return true;
}

// ---------------------------------------------------------------------------
// Constant folding of shape arithmetic

bool FoldConstant(Importer& im, const OnnxNode& n, std::string* why) {
  for (const OnnxAttribute& a : n.attributes) {
    if (a.name == "value" && a.has_t) {
      im.SetConst(n.outputs[0], a.t);
    } else if (a.name == "value_float") {
      im.SetConst(n.outputs[0], FloatTensor({}, {a.f}));
    } else if (a.name == "value_floats") {
      im.SetConst(n.outputs[0], FloatTensor({static_cast<int64_t>(a.floats.size())}, a.floats));
    } else if (a.name == "value_int") {
      im.SetConst(n.outputs[0], IntTensor({}, {a.i}));
    } else if (a.name == "value_ints") {
      im.SetConst(n.outputs[0], IntTensor({static_cast<int64_t>(a.ints.size())}, a.ints));
    } else {
      continue;
    }
    return true;
  }
  return Fail(why, "no value");
}

bool FoldShape(Importer& im, const OnnxNode& n, std::string* why) {
  const Value* x = im.Input(n, 0, why);
  if (x == nullptr) return false;
  const Dims& d = x->constant ? x->k.dims : x->dims;
  const int64_t r = static_cast<int64_t>(d.size());
  auto clamp = [&](int64_t v) { return std::min(std::max(v < 0 ? v + r : v, int64_t{0}), r); };
  const int64_t s = clamp(AttrInt(n, "start", 0)), e = clamp(AttrInt(n, "end", r));
  im.SetConst(n.outputs[0], IntTensor({std::max<int64_t>(e - s, 0)}, Dims(d.begin() + s, d.begin() + std::max(s, e))));
  return true;
}

bool FoldGather(Importer& im, const OnnxNode& n, std::string* why) {
  const OnnxTensor* data = im.Const(n, 0, why);
  const OnnxTensor* index = data ? im.Const(n, 1, why) : nullptr;
  if (index == nullptr) return false;
  int64_t axis;
  if (!NormAxis(AttrInt(n, "axis", 0), data->dims.size(), &axis)) return Fail(why, "axis out of range");
  const int64_t extent = data->dims[axis];
  std::vector<int64_t> ix = AsInts(*index);
  for (int64_t& i : ix) {
    if (i < -extent || i >= extent) return Fail(why, "index out of range");
    if (i < 0) i += extent;
  }
  const int64_t inner = Count(Dims(data->dims.begin() + axis + 1, data->dims.end()));
  Dims od(data->dims.begin(), data->dims.begin() + axis);
  od.insert(od.end(), index->dims.begin(), index->dims.end());
  od.insert(od.end(), data->dims.begin() + axis + 1, data->dims.end());
  if (Count(od) > kMaxFolded) return Fail(why, "constant too large to fold");
  const int64_t per = static_cast<int64_t>(ix.size()) * inner;
  im.SetConst(n.outputs[0], Gathered(*data, od, [&](int64_t k) {
                const int64_t o = k / per, j = (k % per) / inner, i = k % inner;
                return (o * extent + ix[j]) * inner + i;
              }));
  return true;
}

bool FoldConcat(Importer& im, const OnnxNode& n, std::string* why) {
  std::vector<const OnnxTensor*> in;
  for (size_t i = 0; i < n.inputs.size(); ++i) {
    const OnnxTensor* t = im.Const(n, i, why);
    if (t == nullptr) return false;
    in.push_back(t);
  }
  if (in.empty()) return Fail(why, "no inputs");
  const Dims& d0 = in[0]->dims;
  int64_t axis;
  if (!NormAxis(AttrInt(n, "axis", 0), d0.size(), &axis)) return Fail(why, "axis out of range");
  const bool ints = std::all_of(in.begin(), in.end(), [](const OnnxTensor* t) { return IsInt(*t); });
  Dims od = d0;
  od[axis] = 0;
  for (const OnnxTensor* t : in) {
    if (t->dims.size() != d0.size()) return Fail(why, "inputs differ in rank");
    for (size_t i = 0; i < d0.size(); ++i)
      if (static_cast<int64_t>(i) != axis && t->dims[i] != d0[i]) return Fail(why, "inputs disagree outside the axis");
    od[axis] += t->dims[axis];
  }
  const int64_t outer = Count(Dims(d0.begin(), d0.begin() + axis));
  OnnxTensor o = ints ? IntTensor(od, {}) : FloatTensor(od, {});
  for (int64_t b = 0; b < outer; ++b)
    for (const OnnxTensor* t : in) {
      const int64_t block = Count(Dims(t->dims.begin() + axis, t->dims.end()));
      for (int64_t k = 0; k < block; ++k) {
        if (ints) {
          o.i64.push_back(t->i64[b * block + k]);
        } else {
          o.f32.push_back(static_cast<float>(ValueAt(*t, b * block + k)));
        }
      }
    }
  im.SetConst(n.outputs[0], std::move(o));
  return true;
}

bool FoldConstantOfShape(Importer& im, const OnnxNode& n, std::string* why) {
  const OnnxTensor* s = im.Const(n, 0, why);
  if (s == nullptr) return false;
  const Dims d = AsInts(*s);
  for (int64_t v : d)
    if (v < 0 || v > engine::kMaxElements) return Fail(why, "shape out of range");
  if (Count(d) > kMaxFolded) return Fail(why, "constant too large to fold");
  const OnnxAttribute* a = n.attribute("value");
  if (a != nullptr && a->has_t && IsInt(a->t) && !a->t.i64.empty()) {
    im.SetConst(n.outputs[0], IntTensor(d, std::vector<int64_t>(static_cast<size_t>(Count(d)), a->t.i64[0])));
  } else {
    const float v = a != nullptr && a->has_t && !a->t.f32.empty() ? a->t.f32[0] : 0.f;
    im.SetConst(n.outputs[0], FloatTensor(d, std::vector<float>(static_cast<size_t>(Count(d)), v)));
  }
  return true;
}

// ---------------------------------------------------------------------------
// The operator table

struct OpRule {
  const char* op;
  // The attributes the rule reads, comma-separated; any other is refused.
  const char* attributes;
  MapFn fold;  // when every input is a constant (null: map takes them too)
  MapFn map;   // null: constants only
};


const OpRule kOpRules[] = {
    {"Conv", "auto_pad,dilations,group,kernel_shape,pads,strides", nullptr, MapConv},
    {"ConvTranspose", "auto_pad,dilations,group,kernel_shape,output_padding,output_shape,pads,strides", nullptr, MapConvTranspose},
    {"BatchNormalization", "epsilon,momentum,spatial,training_mode,is_test,consumed_inputs", nullptr, MapBatchNorm},
    {"Relu", "", nullptr, MapRelu},
    {"LeakyRelu", "alpha", nullptr, MapLeakyRelu},
    {"PRelu", "", nullptr, MapPRelu},
    {"HardSigmoid", "alpha,beta", nullptr, MapHard},
    {"HardSwish", "", nullptr, MapHard},
    {"Sigmoid", "", nullptr, MapSigmoid},
    {"Tanh", "", nullptr, MapTanh},
    {"Clip", "min,max", nullptr, MapClip},
    {"MaxPool", "auto_pad,ceil_mode,dilations,kernel_shape,pads,storage_order,strides", nullptr, MapPool},
    {"AveragePool", "auto_pad,ceil_mode,count_include_pad,kernel_shape,pads,strides", nullptr, MapPool},
    {"GlobalAveragePool", "", nullptr, MapGlobalPool},
    {"GlobalMaxPool", "", nullptr, MapGlobalPool},
    {"Gemm", "alpha,beta,transA,transB", nullptr, MapGemm},
    {"MatMul", "", nullptr, MapMatMul},
    {"Flatten", "axis", nullptr, MapReshape},
    {"Reshape", "allowzero,shape", nullptr, MapReshape},
    {"Squeeze", "axes", nullptr, MapReshape},
    {"Unsqueeze", "axes", nullptr, MapReshape},
    {"Transpose", "perm", nullptr, MapTranspose},
    {"Concat", "axis", FoldConcat, MapConcat},
    {"Add", "", FoldBinary, MapBinary},
    {"Sub", "", FoldBinary, MapBinary},
    {"Mul", "", FoldBinary, MapBinary},
    {"Div", "", FoldBinary, MapBinary},
    {"Softmax", "axis", nullptr, MapSoftmax},
    {"Resize", "antialias,axes,coordinate_transformation_mode,cubic_coeff_a,exclude_outside,extrapolation_value,keep_aspect_ratio_policy,mode,nearest_mode", nullptr, MapResize},
    {"Upsample", "mode,scales", nullptr, MapResize},
    {"Pad", "mode,pads,value", nullptr, MapPad},
    {"Slice", "axes,ends,starts", nullptr, MapSlice},
    {"Split", "axis,split", nullptr, MapSplit},
    {"Identity", "", nullptr, MapIdentity},
    {"Dropout", "is_test,ratio,seed", nullptr, MapIdentity},
    {"Cast", "to,saturate", nullptr, MapIdentity},
    {"Shape", "start,end", FoldShape, FoldShape},
    {"Gather", "axis", FoldGather, nullptr},
    {"Constant", "value,value_float,value_floats,value_int,value_ints", FoldConstant, FoldConstant},
    {"ConstantOfShape", "value", FoldConstantOfShape, nullptr},
};

const char* const kNotMapped = "operator not supported";

const OpRule* FindRule(const std::string& op) {
  for (const OpRule& r : kOpRules)
    if (op == r.op) return &r;
  return nullptr;
}

bool AttributeAllowed(const OpRule& r, const std::string& name) {
  const std::string list = std::string(",") + r.attributes + ",";
  return list.find("," + name + ",") != std::string::npos;
}

bool MapNode(Importer& im, const OnnxNode& n, std::string* why) {
  if (!n.domain.empty() && n.domain != "ai.onnx") return Fail(why, "operator domain " + n.domain + " is not supported");
  const OpRule* r = FindRule(n.op_type);
  if (r == nullptr) return Fail(why, kNotMapped);
  for (const OnnxAttribute& a : n.attributes)
    if (!AttributeAllowed(*r, a.name)) return Fail(why, "attribute " + a.name + " is not supported");
  if (n.outputs.empty() || n.outputs[0].empty()) return Fail(why, "no output");
  bool all_const = true;
  for (size_t i = 0; i < n.inputs.size(); ++i) {
    if (n.inputs[i].empty()) continue;
    auto it = im.values.find(n.inputs[i]);
    if (it == im.values.end())
      return Fail(why, "input '" + n.inputs[i] + "' is neither a graph input, an initializer nor made by an earlier node");
    all_const = all_const && it->second.constant;
  }
  if (all_const && r->fold != nullptr) return r->fold(im, n, why);
  if (r->map == nullptr) return Fail(why, "maps only on constants (shape arithmetic)");
  return r->map(im, n, why);
}

// Marks the nodes whose outputs reach a graph output (nodes are in
// topological order) and records each value's live consumers.
void FindLive(Importer& im) {
  const std::vector<OnnxNode>& nodes = im.graph.nodes;
  std::set<std::string> wanted(im.graph_outputs);
  im.live.assign(nodes.size(), false);
  im.absorbed.assign(nodes.size(), false);
  for (size_t i = nodes.size(); i-- > 0;) {
    for (const std::string& o : nodes[i].outputs)
      if (!o.empty() && wanted.count(o) != 0) im.live[i] = true;
    if (!im.live[i]) continue;
    for (const std::string& in : nodes[i].inputs)
      if (!in.empty()) wanted.insert(in);
  }
  for (size_t i = 0; i < nodes.size(); ++i)
    if (im.live[i])
      for (const std::string& in : nodes[i].inputs) {
        std::vector<size_t>& c = im.consumers[in];
        if (std::find(c.begin(), c.end(), i) == c.end()) c.push_back(i);
      }
}

// The shape of graph input v: given (from an array) or declared.
bool InputDims(const OnnxValueInfo& v, const std::map<std::string, Dims>& given, Dims* out, std::string* why) {
  const std::string who = "input " + v.name + ": ";
  if (v.elem_type != kOnnxFloat) return Fail(why, who + "element type " + std::to_string(v.elem_type) + " (netrun feeds float32 only)");
  auto it = given.find(v.name);
  if (it != given.end()) {
    // A declared scalar takes a one-value array (.npy writes those as shape
    // () or (1)).
    const bool scalar = v.has_shape && v.dims.empty() && Count(it->second) == 1;
    if (v.has_shape && !scalar) {
      bool agree = it->second.size() == v.dims.size();
      for (size_t i = 0; agree && i < v.dims.size(); ++i) agree = v.dims[i] < 0 || v.dims[i] == it->second[i];
      if (!agree)
        return Fail(why, who + "array shape " + DimsText(it->second) + " disagrees with the declared " +
                             DimsText(v.dims) + " (-1: any)");
    }
    *out = scalar ? v.dims : it->second;
  } else {
    if (!v.has_shape) return Fail(why, who + "no declared shape; give an array with --input");
    *out = v.dims;
    for (size_t i = 0; i < out->size(); ++i) {
      if ((*out)[i] >= 0) continue;
      if (i != 0) return Fail(why, who + "extent " + std::to_string(i) + " is not fixed; give an array with --input");
      (*out)[i] = 1;
    }
  }
  Extents4 e;
  if (!CanonOf(*out, &e)) return Fail(why, who + "shape " + DimsText(*out) + " has no engine layout (rank 1 to 4)");
  return true;
}

OnnxPort Port(const std::string& name, const std::string& tensor, const Dims& dims, const Extents4& memory) {
  OnnxPort p;
  p.name = name;
  p.tensor = tensor;
  p.dims = dims;
  p.memory = memory;
  return p;
}

// Whether a layer reads the tensor (other than one working on it in place).
bool ReadByLayers(const NetDescription& net, const std::string& tensor) {
  for (const LayerEntry& l : net.layers)
    if (!l.tensors.empty() && l.tensors.back() != tensor &&
        std::find(l.tensors.begin(), l.tensors.end() - 1, tensor) != l.tensors.end() - 1)
      return true;
  return false;
}

// A graph input: a network input of its (given or declared) shape.
bool AddInput(Importer& im, const OnnxValueInfo& v, const std::map<std::string, Dims>& given,
              std::string* error) {
  Dims d;
  if (!InputDims(v, given, &d, error)) return false;
  Extents4 e;
  CanonOf(d, &e);
  InputEntry in;
  in.name = im.UniqueTensor(v.name);
  std::copy(e.begin(), e.end(), in.shape);
  im.out->net.inputs.push_back(in);
  im.SetRuntime(v.name, d, in.name, e);
  im.out->inputs.push_back(Port(v.name, in.name, d, e));
  return true;
}

// A graph output: the engine tensor holding it, a constant tensor for a
// float value the import folded, or the folded int64 values themselves.
bool AddOutput(Importer& im, const std::string& name, std::string* error) {
  auto it = im.values.find(name);
  if (it == im.values.end()) return Fail(error, "output " + name + ": no node makes it");
  const Value& v = it->second;
  if (v.constant && IsInt(v.k)) {
    OnnxPort p = Port(name, "", v.k.dims, {1, 1, 1, 1});
    p.folded_int = true;
    p.int_values = v.k.i64;
    im.out->outputs.push_back(std::move(p));
    return true;
  }
  const Dims& dims = v.constant ? v.k.dims : v.dims;
  Extents4 e = v.memory;
  if (dims.size() > 4 || (v.constant && !CanonOf(dims, &e)))
    return Fail(error, "output " + name + ": rank above 4 or extents out of range");
  std::string tensor = v.constant ? im.ConstantTensor(name + ".const", dims, v.k.f32) : v.tensor;
  if (!v.constant && ReadByLayers(im.out->net, tensor)) {
    // A device layer may keep a tensor it hands to other device layers in
    // device memory only; a host copy keeps the output's values.
    const std::string copy = im.UniqueTensor(tensor + ".out");
    LayerEntry& l = im.EmitNamed(name + ".out", "Activation", {tensor, copy});
    l.params[0] = engine::kActCopy;
    tensor = copy;
  }
  im.out->outputs.push_back(Port(name, tensor, dims, e));
  return true;
}

}  // namespace

std::vector<OnnxOperator> OnnxSupportedOperators() {
  std::vector<OnnxOperator> ops;
  for (const OpRule& r : kOpRules) ops.push_back({r.op, r.map == nullptr});
  return ops;
}

std::vector<std::string> OnnxRuntimeInputs(const OnnxGraph& graph) {
  std::set<std::string> init;
  for (const OnnxTensor& t : graph.initializers) init.insert(t.name);
  std::vector<std::string> names;
  for (const OnnxValueInfo& v : graph.inputs)
    if (init.count(v.name) == 0) names.push_back(v.name);
  return names;
}

void OnnxToEngineOrder(const float* onnx, const Extents4& memory, float* engine) {
  const std::vector<int64_t> idx = OnnxIndexOf(memory);
  for (size_t e = 0; e < idx.size(); ++e) engine[e] = onnx[idx[e]];
}

void EngineToOnnxOrder(const float* engine, const Extents4& memory, float* onnx) {
  const std::vector<int64_t> idx = OnnxIndexOf(memory);
  for (size_t e = 0; e < idx.size(); ++e) onnx[idx[e]] = engine[e];
}

bool ImportOnnx(const OnnxModel& model, const std::map<std::string, std::vector<int64_t>>& input_shapes,
                OnnxImport* out, std::string* error) {
  Importer im(model, out);
  const OnnxGraph& g = model.graph;
  out->net.name = g.name.empty() ? "onnx" : g.name;
  for (const OnnxTensor& t : g.initializers) im.SetConst(t.name, t);
  std::set<std::string> constants;
  for (const OnnxTensor& t : g.initializers) constants.insert(t.name);
  for (const OnnxValueInfo& v : g.inputs)
    if (constants.count(v.name) == 0 && !AddInput(im, v, input_shapes, error)) return false;
  for (const auto& given : input_shapes)
    if (im.values.count(given.first) == 0 || im.values[given.first].constant)
      return Fail(error, "no graph input named " + given.first);
  for (const OnnxValueInfo& o : g.outputs) im.graph_outputs.insert(o.name);
  for (const OnnxNode& n : g.nodes)
    for (const std::string& o : n.outputs)
      if (!o.empty()) im.UniqueTensor(o);
  FindLive(im);
  for (size_t i = 0; i < g.nodes.size(); ++i) {
    if (!im.live[i] || im.absorbed[i]) continue;
    im.current = i;
    std::string why;
    if (!MapNode(im, g.nodes[i], &why)) {
      const OnnxNode& n = g.nodes[i];
      *error = "node " + im.NodeName(n) + " (" + n.op_type + "): " + why;
      return false;
    }
  }
  for (const OnnxValueInfo& o : g.outputs)
    if (!AddOutput(im, o.name, error)) return false;
  return true;
}

}  // namespace netrun
