// Layer registry: per back-end, type name -> factory.  Filled at load by
// one OXRIN_REGISTER_LAYER line beside each registered class.
#pragma once

#include <map>
#include <new>
#include <string>

#include "engine/layer.h"

namespace engine {

using LayerFactory = Layer* (*)(const LayerDesc&, TensorMap&, WeightMap&);

constexpr int kBackendCount = 8;
// The back-end every registration of this library uses: the OpenCL class
// of a type where there is one, else the CPU class, else the reference.
constexpr int kBackendDefault = 3;

class LayerRegistry {
 public:
  // Created on first use (thread-safe), destroyed at unload.
  static LayerRegistry& instance();
  // The map of a back-end; null for a number outside 0..7.
  std::map<std::string, LayerFactory>* backend(int number);

 private:
  LayerRegistry() = default;
  std::map<std::string, LayerFactory> maps_[kBackendCount];
};

// Enters or replaces a factory; a replacement prints
// "Layer type X already registered." on the common log stream.
void register_layer(int backend, const std::string& type_name, LayerFactory factory);
// Null when the back-end or name is unknown.
LayerFactory find_layer(int backend, const std::string& type_name);

extern const char* const kLogAlreadyRegistered;  // "Layer type %s already registered.\n"

template <class T>
Layer* make_layer(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights) {
  T* layer = new (std::nothrow) T(desc, tensors, weights);
  return layer;  // implicit conversion to the single virtual Layer base
}

struct LayerRegistrar {
  LayerRegistrar(const char* type_name, LayerFactory factory) {
    register_layer(kBackendDefault, type_name, factory);
  }
};

}  // namespace engine

#define OXRIN_LAYER_CAT2(a, b) a##b
#define OXRIN_LAYER_CAT(a, b) OXRIN_LAYER_CAT2(a, b)
// Registers CLASS under TYPE_NAME in the default back-end at load.
#define OXRIN_REGISTER_LAYER(TYPE_NAME, CLASS)                                    \
  static const ::engine::LayerRegistrar OXRIN_LAYER_CAT(oxrin_layer_registrar_, \
                                                        __COUNTER__)(             \
      TYPE_NAME, &::engine::make_layer<CLASS>)
