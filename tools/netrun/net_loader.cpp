#include "tools/netrun/net_loader.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "engine/core/activation.h"

namespace netrun {

namespace {

using rapidjson::Value;

const char* const kTypeGemm = "Gemm";
// The slope of a leaky ReLU described without one (ONNX's default too).
constexpr float kDefaultLeakySlope = 0.01f;

bool Fail(std::string* error, const std::string& why) {
  *error = why;
  return false;
}

bool Int32(const Value& v, int32_t* out) {
  if (!v.IsInt()) return false;
  *out = v.GetInt();
  return true;
}

bool Float(const Value& v, float* out) {
  if (!v.IsNumber()) return false;
  *out = static_cast<float>(v.GetDouble());
  return true;
}

// A string array of at most max non-empty names.
bool Names(const Value& v, size_t max, std::vector<std::string>* out) {
  if (!v.IsArray() || v.Size() > max) return false;
  for (const Value& e : v.GetArray()) {
    if (!e.IsString() || e.GetStringLength() == 0 || std::strlen(e.GetString()) != e.GetStringLength())
      return false;
    out->push_back(e.GetString());
  }
  return true;
}

bool Shape(const Value& v, int32_t out[4]) {
  if (!v.IsArray() || v.Size() != 4) return false;
  for (unsigned i = 0; i < 4; ++i)
    if (!Int32(v[i], &out[i]) || out[i] < 1) return false;
  return true;
}

bool Triple(const Value& v, float out[3]) {
  if (!v.IsArray() || v.Size() != 3) return false;
  for (unsigned i = 0; i < 3; ++i)
    if (!Float(v[i], &out[i])) return false;
  return true;
}

bool ParseInput(const Value& v, InputEntry* in, std::string* error) {
  if (!v.IsObject()) return Fail(error, "an input is not an object");
  for (auto& m : v.GetObject()) {
    const std::string key = m.name.GetString();
    const Value& x = m.value;
    bool ok = true;
    if (key == "name") {
      ok = x.IsString() && x.GetStringLength() > 0;
      if (ok) in->name = x.GetString();
    } else if (key == "shape") {
      ok = Shape(x, in->shape);
    } else if (key == "type") {
      ok = x.IsString() && (std::strcmp(x.GetString(), "u8") == 0 ||
                            std::strcmp(x.GetString(), "float") == 0);
      if (ok) in->u8 = std::strcmp(x.GetString(), "u8") == 0;
    } else if (key == "mean") {
      ok = Triple(x, in->mean);
    } else if (key == "scale") {
      ok = Triple(x, in->scale);
    } else {
      return Fail(error, "input: unknown member \"" + key + "\"");
    }
    if (!ok) return Fail(error, "input " + in->name + ": bad \"" + key + "\"");
  }
  if (in->name.empty()) return Fail(error, "an input has no name");
  return true;
}

bool ParseLayer(const Value& v, size_t index, LayerEntry* l, std::string* error) {
  const std::string where = "layer " + std::to_string(index);
  if (!v.IsObject()) return Fail(error, where + ": not an object");
  bool has_params = false, has_alpha = false, has_beta = false;
  for (auto& m : v.GetObject()) {
    const std::string key = m.name.GetString();
    const Value& x = m.value;
    bool ok = true;
    if (key == "type") {
      ok = x.IsString() && x.GetStringLength() > 0;
      if (ok) l->type = x.GetString();
    } else if (key == "name") {
      ok = x.IsString() && x.GetStringLength() > 0;
      if (ok) l->name = x.GetString();
    } else if (key == "params") {
      ok = x.IsArray() && x.Size() <= engine::kMaxParams;
      for (unsigned i = 0; ok && i < x.Size(); ++i) ok = Int32(x[i], &l->params[i]);
      has_params = true;
    } else if (key == "alpha") {
      ok = Float(x, &l->alpha);
      has_alpha = true;
    } else if (key == "beta") {
      ok = Float(x, &l->beta);
      has_beta = true;
    } else if (key == "tensors") {
      ok = Names(x, engine::kMaxTensorNames, &l->tensors);
    } else if (key == "weights") {
      ok = Names(x, engine::kMaxWeightNames, &l->weights);
    } else {
      return Fail(error, where + ": unknown member \"" + key + "\"");
    }
    if (!ok) return Fail(error, where + (l->name.empty() ? "" : " (" + l->name + ")") + ": bad \"" + key + "\"");
  }
  if (l->type.empty()) return Fail(error, where + ": no type");
  if (l->name.empty()) return Fail(error, where + ": no name");
  if (!has_params) l->params[0] = DefaultActivationKind(l->type);
  if (!has_alpha && l->params[0] == engine::kActLeakyRelu &&
      (l->type == "LeakyRelu" || l->type == "Activation"))
    l->alpha = kDefaultLeakySlope;
  // Gemm's two factors leave the product unchanged unless given.
  if (l->type == kTypeGemm) {
    if (!has_alpha) l->alpha = 1.f;
    if (!has_beta) l->beta = 1.f;
  }
  return true;
}

}  // namespace

int32_t DefaultActivationKind(const std::string& type) {
  if (type == "Relu") return engine::kActRelu;
  if (type == "Sigmoid") return engine::kActSigmoid;
  if (type == "LeakyRelu") return engine::kActLeakyRelu;
  return 0;
}

engine::LayerDesc NetDescription::Desc(size_t i) const {
  engine::LayerDesc d;
  const LayerEntry& l = layers[i];
  d.name = l.name.c_str();
  d.type = l.type.c_str();
  std::memcpy(d.params, l.params, sizeof d.params);
  d.alpha = l.alpha;
  d.beta = l.beta;
  // Every layer's factors are decided here (a Gemm without them got 1).
  d.factors_set = true;
  for (size_t k = 0; k < l.tensors.size(); ++k) d.tensors[k] = l.tensors[k].c_str();
  for (size_t k = 0; k < l.weights.size(); ++k) d.weights[k] = l.weights[k].c_str();
  return d;
}

bool ParseNetDescription(const std::string& text, NetDescription* net, std::string* error) {
  rapidjson::Document doc;
  doc.Parse(text.c_str(), text.size());
  if (doc.HasParseError()) {
    return Fail(error, std::string("JSON error at offset ") + std::to_string(doc.GetErrorOffset()) +
                           ": " + rapidjson::GetParseError_En(doc.GetParseError()));
  }
  if (!doc.IsObject()) return Fail(error, "the description is not a JSON object");
  std::set<std::string> weight_names, layer_names;
  for (auto& m : doc.GetObject()) {
    const std::string key = m.name.GetString();
    const Value& x = m.value;
    if (key == "name") {
      if (!x.IsString()) return Fail(error, "bad \"name\"");
      net->name = x.GetString();
    } else if (key == "inputs") {
      if (!x.IsArray()) return Fail(error, "\"inputs\" is not an array");
      for (const Value& e : x.GetArray()) {
        InputEntry in;
        if (!ParseInput(e, &in, error)) return false;
        net->inputs.push_back(in);
      }
    } else if (key == "weights") {
      if (!x.IsObject()) return Fail(error, "\"weights\" is not an object");
      for (auto& w : x.GetObject()) {
        WeightEntry entry;
        entry.name = w.name.GetString();
        const Value& o = w.value;
        if (entry.name.empty() || !o.IsObject() || !o.HasMember("file") || !o["file"].IsString())
          return Fail(error, "weight " + entry.name + ": needs a \"file\"");
        entry.file = o["file"].GetString();
        for (auto& wm : o.GetObject()) {
          const std::string wk = wm.name.GetString();
          if (wk == "shape") {
            if (!Shape(wm.value, entry.shape)) return Fail(error, "weight " + entry.name + ": bad \"shape\"");
            entry.has_shape = true;
          } else if (wk != "file") {
            return Fail(error, "weight " + entry.name + ": unknown member \"" + wk + "\"");
          }
        }
        weight_names.insert(entry.name);
        net->weights.push_back(entry);
      }
    } else if (key == "layers") {
      if (!x.IsArray()) return Fail(error, "\"layers\" is not an array");
      for (const Value& e : x.GetArray()) {
        LayerEntry l;
        if (!ParseLayer(e, net->layers.size(), &l, error)) return false;
        if (!layer_names.insert(l.name).second)
          return Fail(error, "layer " + l.name + ": name used twice");
        net->layers.push_back(l);
      }
    } else {
      return Fail(error, "unknown member \"" + key + "\"");
    }
  }
  for (const LayerEntry& l : net->layers)
    for (const std::string& w : l.weights)
      if (weight_names.count(w) == 0)
        return Fail(error, "layer " + l.name + ": unknown weight \"" + w + "\"");
  if (net->inputs.empty()) return Fail(error, "no inputs");
  if (net->layers.empty()) return Fail(error, "no layers");
  return true;
}

bool LoadNetDescription(const std::string& path, NetDescription* net, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot open " + path);
  std::stringstream text;
  text << in.rdbuf();
  const size_t slash = path.find_last_of('/');
  net->folder = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string why;
  if (!ParseNetDescription(text.str(), net, &why)) return Fail(error, path + ": " + why);
  return true;
}

}  // namespace netrun
