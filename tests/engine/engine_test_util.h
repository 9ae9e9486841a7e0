// Builds single layers through the registry for the engine tests.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "engine/layer.h"
#include "engine/registry.h"

namespace enginetest {

struct Recipe {
  std::string type;
  std::vector<std::string> tensors = {};
  std::vector<int> params = {};
  std::vector<std::string> weights = {};
  float alpha = 0.f;
  float beta = 0.f;
};

class Bench {
 public:
  engine::TensorMap tensors;
  engine::WeightMap weights;
  engine::core::RunEnv env;
  std::vector<std::unique_ptr<engine::Layer>> layers;

  engine::Tensor& Input(const std::string& name, int n, int h, int w, int c) {
    engine::Tensor& t = tensors[name];
    t.name = name;
    t.set_shape(n, h, w, c);
    return t;
  }
  engine::Tensor& Weight(const std::string& name, int n, int h, int w, int c) {
    engine::Tensor& t = weights[name];
    t.name = name;
    t.set_shape(n, h, w, c);
    return t;
  }
  engine::Layer* Add(const Recipe& s, const std::string& name = "layer") {
    engine::LayerDesc d;
    d.name = name.c_str();
    d.type = s.type.c_str();
    for (size_t i = 0; i < s.params.size() && i < 16; ++i) d.params[i] = s.params[i];
    for (size_t i = 0; i < s.tensors.size() && i < 8; ++i) d.tensors[i] = s.tensors[i].c_str();
    for (size_t i = 0; i < s.weights.size() && i < 8; ++i) d.weights[i] = s.weights[i].c_str();
    d.alpha = s.alpha;
    d.beta = s.beta;
    d.factors_set = true;
    engine::LayerFactory f = engine::find_layer(engine::kBackendDefault, s.type);
    if (f == nullptr) return nullptr;
    layers.emplace_back(f(d, tensors, weights));
    return layers.back().get();
  }
};

inline std::string ShapeOf(const engine::Tensor& t) {
  return std::to_string(t.n) + "x" + std::to_string(t.h) + "x" + std::to_string(t.w) + "x" +
         std::to_string(t.c);
}

// "1x2x3x4" -> dims
inline void Dims(const std::string& text, int d[4]) {
  std::sscanf(text.c_str(), "%dx%dx%dx%d", &d[0], &d[1], &d[2], &d[3]);
}

struct ShapeCase {
  const char* label;
  const char* type;
  std::vector<const char*> inputs;   // shapes of in0, in1, ...
  std::vector<int> params;
  std::vector<const char*> weights;  // shapes of w0, w1, ...
  float alpha;
  float beta;
  int outputs;
  const char* expected;  // output shapes joined by ','
};

inline std::ostream& operator<<(std::ostream& os, const ShapeCase& c) { return os << c.label; }

// Builds the layer with inputs in0.., outputs out0.., weights w0.. and
// answers the output shapes, or "false: reason".
inline std::string Shapes(const ShapeCase& c) {
  Bench b;
  enginetest::Recipe s;
  s.type = c.type;
  s.params = c.params;
  s.alpha = c.alpha;
  s.beta = c.beta;
  for (size_t i = 0; i < c.inputs.size(); ++i) {
    int d[4];
    enginetest::Dims(c.inputs[i], d);
    s.tensors.push_back("in" + std::to_string(i));
    b.Input(s.tensors.back(), d[0], d[1], d[2], d[3]);
  }
  for (int i = 0; i < c.outputs; ++i) s.tensors.push_back("out" + std::to_string(i));
  for (size_t i = 0; i < c.weights.size(); ++i) {
    int d[4];
    enginetest::Dims(c.weights[i], d);
    s.weights.push_back("w" + std::to_string(i));
    b.Weight(s.weights.back(), d[0], d[1], d[2], d[3]);
  }
  engine::Layer* l = b.Add(s);
  if (l == nullptr) return "unknown type";
  if (!l->reshape(b.env)) return "false: " + l->last_error;
  std::string out;
  for (const engine::Tensor* t : l->outputs) out += (out.empty() ? "" : ",") + ShapeOf(*t);
  return out;
}

}  // namespace enginetest
