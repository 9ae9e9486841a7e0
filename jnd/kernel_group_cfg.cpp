#include "jnd/kernel_group_cfg.h"

#include <cstdio>
#include <cstring>

#include "opencl/cl_engine.h"
#include "opencl/cl_kernel.h"

namespace jnd {

namespace {

bool SameText(const std::string& a, const char* b) {
  return b != nullptr && a.size() == std::strlen(b) && std::memcmp(a.data(), b, a.size()) == 0;
}

// True when the kernel can launch with its current local size.
bool LocalSizeFits(const opencl::ClKernel& k) {
  const size_t items = k.local[0] * k.local[1] * k.local[2];
  if (k.kernelWorkGroupSize != 0 && items > k.kernelWorkGroupSize) return false;
  for (int d = 0; d < 3; ++d)
    if (k.maxItems[d] != 0 && k.local[d] > k.maxItems[d]) return false;
  return true;
}

}  // namespace

bool RowMatchesDevice(const KernelGroupCfg& row, const KernelCfgDevice& device) {
  if (device.vendor == opencl::kVendorQualcomm) return row.deviceVersion == device.version;
  return row.deviceName == device.name;
}

bool load_kernel_group_cfg(const KernelGroupCfg* rows, int count, const KernelCfgDevice& device,
                           opencl::ClKernel* const kernels[3]) {
  if (rows == nullptr) return false;
  for (int i = 0; i < count; ++i) {
    const KernelGroupCfg& row = rows[i];
    if (row.kernelCount != 3 || !RowMatchesDevice(row, device)) continue;
    int applied = 0;
    for (int j = 0; j < 3; ++j) {
      opencl::ClKernel* k = kernels[j];
      if (k == nullptr || !SameText(k->label, row.kernels[j].label)) continue;
      size_t before[3] = {k->local[0], k->local[1], k->local[2]};
      const bool locked_before = k->localLocked;
      k->SetLocalSize(row.kernels[j].local);
      if (!LocalSizeFits(*k)) {
        std::memcpy(k->local, before, sizeof(before));
        k->localLocked = locked_before;
        continue;
      }
      ++applied;
    }
    if (applied == 3) return true;
  }
  return false;
}

std::string FormatKernelGroupRow(const std::string& deviceName, const std::string& deviceVersion,
                                 const opencl::ClKernel* const kernels[3]) {
  std::string out = "{\"" + deviceName + "\", \"" + deviceVersion + "\", 3, {";
  for (int j = 0; j < 3; ++j) {
    char entry[160];
    const opencl::ClKernel* k = kernels[j];
    std::snprintf(entry, sizeof(entry), "{\"%s\", {%zu, %zu, %zu} }", k ? k->label.c_str() : "",
                  k ? k->local[0] : 0, k ? k->local[1] : 0, k ? k->local[2] : 0);
    if (j > 0) out += ",";
    out += entry;
  }
  out += "}};\n";
  return out;
}

bool ParseKernelGroupRow(const std::string& text, KernelGroupCfg* row,
                         std::vector<std::string>* labels) {
  // {"name", "version", 3, {{"conv1", {a, b, c} },{"conv2", {...} },{...}}};
  size_t p = 0;
  auto expect = [&](const char* s) {
    while (p < text.size() && text[p] == ' ') ++p;
    const size_t n = std::strlen(s);
    if (text.compare(p, n, s) != 0) return false;
    p += n;
    return true;
  };
  auto quoted = [&](std::string* out) {
    while (p < text.size() && text[p] == ' ') ++p;
    if (p >= text.size() || text[p] != '"') return false;
    const size_t end = text.find('"', p + 1);
    if (end == std::string::npos) return false;
    *out = text.substr(p + 1, end - p - 1);
    p = end + 1;
    return true;
  };
  auto number = [&](size_t* out) {
    while (p < text.size() && text[p] == ' ') ++p;
    size_t start = p;
    size_t v = 0;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') v = v * 10 + (text[p++] - '0');
    *out = v;
    return p > start;
  };
  KernelGroupCfg r{};
  size_t count = 0;
  labels->assign(3, std::string());
  if (!expect("{") || !quoted(&r.deviceName) || !expect(",") || !quoted(&r.deviceVersion) ||
      !expect(",") || !number(&count) || !expect(",") || !expect("{"))
    return false;
  r.kernelCount = static_cast<int>(count);
  for (int j = 0; j < 3; ++j) {
    if (j > 0 && !expect(",")) return false;
    if (!expect("{") || !quoted(&(*labels)[j]) || !expect(",") || !expect("{") ||
        !number(&r.kernels[j].local[0]) || !expect(",") || !number(&r.kernels[j].local[1]) ||
        !expect(",") || !number(&r.kernels[j].local[2]) || !expect("}") || !expect("}"))
      return false;
  }
  if (!expect("}") || !expect("}") || !expect(";")) return false;
  for (int j = 0; j < 3; ++j) r.kernels[j].label = (*labels)[j].c_str();
  *row = r;
  return true;
}

}  // namespace jnd
