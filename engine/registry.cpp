#include "engine/registry.h"

#include <cstdio>

namespace engine {

const char* const kLogAlreadyRegistered = "Layer type %s already registered.\n";

LayerRegistry& LayerRegistry::instance() {
  static LayerRegistry registry;
  return registry;
}

std::map<std::string, LayerFactory>* LayerRegistry::backend(int number) {
  if (number < 0 || number >= kBackendCount) return nullptr;
  return &maps_[number];
}

void register_layer(int backend, const std::string& type_name, LayerFactory factory) {
  auto* map = LayerRegistry::instance().backend(backend);
  if (map == nullptr) return;
  if (map->count(type_name) != 0) {
    // The OpenCL runtime's progress lines go to standard output too.
    std::printf(kLogAlreadyRegistered, type_name.c_str());
    std::fflush(stdout);
  }
  (*map)[type_name] = factory;
}

LayerFactory find_layer(int backend, const std::string& type_name) {
  auto* map = LayerRegistry::instance().backend(backend);
  if (map == nullptr) return nullptr;
  auto it = map->find(type_name);
  return it == map->end() ? nullptr : it->second;
}

}  // namespace engine
