#include "engine/cl/base.h"

#include <cstdio>

namespace engine {
namespace cl {

const char* const kConfigLineFormat = "{\"%s\",{%zu,%zu,%zu}},";

bool Base::use_buffer_weight(opencl::clEngine*) { return false; }

std::string Base::config_line() const {
  char line[512];
  std::snprintf(line, sizeof line, kConfigLineFormat, kernel.label.c_str(), kernel.local[0],
                kernel.local[1], kernel.local[2]);
  return line;
}

void Base::dump_config() { std::printf("%s\n", config_line().c_str()); }

bool Base::load_config(core::RunEnv& env) {
  auto* cl_env = dynamic_cast<RunEnv*>(&env);
  if (cl_env == nullptr) return false;
  if (cl_env->current_device < 0 ||
      static_cast<size_t>(cl_env->current_device) >= cl_env->work_groups.size())
    return false;
  const WorkGroupTable& table = cl_env->work_groups[cl_env->current_device];
  auto it = table.find(name);
  if (it == table.end()) return false;
  kernel.SetLocalSize(it->second.data());
  return true;
}

}  // namespace cl
}  // namespace engine
