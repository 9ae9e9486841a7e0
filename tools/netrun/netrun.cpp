// netrun: builds a network from its description (or an ONNX model, imported
// directly) through the layer registry, infers its shapes and prints each
// layer's outputs; with --output it also runs the layers (printing where
// each ran, with which kernel, and for how long) and writes the output.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/cl/base.h"
#include "opencl/cl_engine.h"
#include "platform/platform.h"
#include "tools/netrun/engine_program.h"
#include "tools/netrun/network.h"
#include "tools/netrun/onnx_import.h"
#include "tools/netrun/onnx_reader.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitDescription = 2;  // malformed file, unknown type, missing tensor, shapes
constexpr int kExitRun = 3;          // a layer failed to run or the output was not written
constexpr int kExitNoDevice = 4;     // --device cl without a usable OpenCL device

// One line per run layer: name, type, placement and kernel, milliseconds,
// and where the time was measured ("device": OpenCL profiling).
const char* const kRunLineFormat = "  %-20s %-18s %-28s %9.3f ms %s\n";

const char* const kUsage =
    "usage: netrun NET.json [--input X.npy] [--output Y.npy] [--device cpu|cl]\n"
    "              [--persona NAME]\n"
    "       netrun MODEL.onnx [--input [NAME=]X.npy]... [--output [NAME=]Y.npy]...\n"
    "              [--device cpu|cl] [--persona NAME]\n"
    "       netrun --list-ops\n"
    "  Builds the network, infers its shapes and prints each layer's outputs.\n"
    "  --input X.npy   values (and shape) of the first network input; for an ONNX\n"
    "                  model, of the graph input NAME, or of the next unnamed one in\n"
    "                  graph order (float32, in the model's own NCHW layout)\n"
    "  --output Y.npy  run the network and write the last layer's output; for an\n"
    "                  ONNX model, the graph output NAME, or the next unnamed one\n"
    "  --device        cpu (default) or cl (an OpenCL device)\n"
    "  --persona NAME  present this machine's OpenCL device as NAME (test use)\n"
    "  A .onnx file is imported directly; an operator that does not map is refused\n"
    "  with its node's name and the reason.\n"
    "  --list-ops      print the ONNX operators the importer maps, one a line\n"
    "                  (\"NAME\tconstants only\" for shape arithmetic it folds)\n"
    "  A cl run prints each layer's placement (cl:KERNEL on the device, cpu:KERNEL\n"
    "  where no device kernel fits) and its time.\n"
    "  Exit codes: 0 done, 1 usage, 2 description, model or shapes, 3 run failed,\n"
    "  4 no usable OpenCL device for --device cl.\n";

const char* const kOnnxExtension = ".onnx";
// Marks an operator --list-ops shows that maps only on constant inputs.
const char* const kConstantsOnly = "\tconstants only";

// An --input or --output argument: "NAME=FILE" or "FILE".
struct PortArg {
  std::string name;  // empty: the next unnamed one in order
  std::string path;
};

PortArg SplitPortArg(const std::string& a) {
  const size_t eq = a.find('=');
  if (eq == std::string::npos || eq == 0 || a.substr(0, eq).find('/') != std::string::npos)
    return {"", a};
  return {a.substr(0, eq), a.substr(eq + 1)};
}

struct Options {
  std::string net, device = "cpu", persona;
  std::vector<PortArg> inputs, outputs;
  bool onnx() const {
    const size_t n = std::strlen(kOnnxExtension);
    return net.size() > n && net.compare(net.size() - n, n, kOnnxExtension) == 0;
  }
};

int ParseArgs(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    bool ok = true;
    std::string v;
    if (a == "--input" || a == "--output") {
      ok = value(&v) && !v.empty();
      if (ok) (a == "--input" ? o->inputs : o->outputs).push_back(SplitPortArg(v));
    } else if (a == "--device") {
      ok = value(&o->device) && (o->device == "cpu" || o->device == "cl");
    } else if (a == "--persona") {
      ok = value(&o->persona);
    } else if (a == "--list-ops") {
      for (const netrun::OnnxOperator& op : netrun::OnnxSupportedOperators())
        std::printf("%s%s\n", op.name.c_str(), op.constants_only ? kConstantsOnly : "");
      std::exit(kExitOk);
    } else if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(kExitOk);
    } else if (!a.empty() && a[0] != '-' && o->net.empty()) {
      o->net = a;
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "netrun: bad argument %s\n%s", a.c_str(), kUsage);
      return kExitUsage;
    }
  }
  if (o->net.empty()) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  // A JSON description takes one plain input and output file.
  if (!o->onnx()) {
    for (const std::vector<PortArg>* list : {&o->inputs, &o->outputs}) {
      if (list->size() > 1 || (list->size() == 1 && !(*list)[0].name.empty())) {
        std::fprintf(stderr, "netrun: a JSON network takes one --input and one --output file\n%s",
                     kUsage);
        return kExitUsage;
      }
    }
  }
  return kExitOk;
}

std::string PersonaLibrary() {
  const std::string exe = platform::ExecutablePath();
  const size_t slash = exe.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : exe.substr(0, slash);
  return dir + "/../persona/libOpenCL.so.1";
}

bool LoadPersona(const std::string& persona, std::string* error) {
  const std::string lib = PersonaLibrary();
  platform::SetEnv("OXRIN_CL_PERSONA", persona.c_str());
  if (platform::OpenLibrary(lib.c_str(), platform::kLoadGlobal) == nullptr) {
    *error = "cannot load the device persona " + lib + ": " + platform::LastLoadError();
    return false;
  }
  return true;
}

void PrintShapes(const std::string& name, netrun::Network& net, const Options& o) {
  std::printf("network %s: %zu layers, device %s\n", name.c_str(), net.layers.size(),
              o.device.c_str());
  for (const std::string& in : net.input_names) {
    const engine::Tensor& t = net.tensors[in];
    std::printf("  %-20s %-18s %s %s\n", "(input)", in.c_str(), netrun::ShapeText(t).c_str(),
                t.host_u8 != nullptr ? "u8" : "float");
  }
  for (const engine::Layer* l : net.layers) {
    std::string outs;
    for (const engine::Tensor* t : l->outputs) {
      if (!outs.empty()) outs += ", ";
      outs += t->name + " " + netrun::ShapeText(*t);
    }
    std::printf("  %-20s %-18s %s\n", l->name.c_str(), l->type.c_str(), outs.c_str());
  }
}

// The device (kept by the caller, which outlives the network) and the run
// environment; an exit code on failure.
int MakeEnv(const Options& o, std::unique_ptr<opencl::clEngine>* device,
            std::unique_ptr<engine::core::RunEnv>* env) {
  std::string error;
  if (o.device != "cl") {
    *env = std::make_unique<engine::core::RunEnv>();
    return kExitOk;
  }
  if (!o.persona.empty() && !LoadPersona(o.persona, &error)) {
    std::fprintf(stderr, "netrun: %s\n", error.c_str());
    return kExitNoDevice;
  }
  *device = std::make_unique<opencl::clEngine>();
  // Profiling on: each device layer's time comes from its kernel's
  // OpenCL event.
  if (!(*device)->Init(opencl::kVendorUnknown, true, false)) {
    std::fprintf(stderr, "netrun: no OpenCL device: %s\n", (*device)->lastError.c_str());
    return kExitNoDevice;
  }
  if (!netrun::BuildEngineProgram(**device, netrun::DefaultEngineVariants(), &error)) {
    std::fprintf(stderr, "netrun: the engine kernels do not build on %s: %s\n",
                 (*device)->deviceName.c_str(), error.c_str());
    return kExitNoDevice;
  }
  auto cl_env = std::make_unique<engine::cl::RunEnv>();
  cl_env->engine = device->get();
  cl_env->profile = true;
  *env = std::move(cl_env);
  return kExitOk;
}

// Shapes, prints and (when outputs are wanted) runs the network, printing
// each layer's placement and time.
int ShapeAndRun(const std::string& name, netrun::Network& net, engine::core::RunEnv& env,
                const Options& o) {
  std::string error;
  if (!net.Reshape(env, &error)) {
    std::fprintf(stderr, "netrun: %s: %s\n", o.net.c_str(), error.c_str());
    return kExitDescription;
  }
  PrintShapes(name, net, o);
  if (o.outputs.empty()) return kExitOk;
  if (!net.Run(env, &error)) {
    std::fprintf(stderr, "netrun: %s\n", error.c_str());
    return kExitRun;
  }
  std::printf("run:\n");
  for (size_t i = 0; i < net.order.size(); ++i) {
    const engine::Layer* l = net.order[i];
    std::printf(kRunLineFormat, l->name.c_str(), l->type.c_str(), l->placement.c_str(),
                net.seconds[i] * 1e3, net.device_timed[i] ? "device" : "host");
  }
  return kExitOk;
}

int RunJson(const Options& o) {
  std::string error;
  // The device outlives the network: the layers' kernels and memory
  // objects are released before it.
  std::unique_ptr<opencl::clEngine> device;
  netrun::NetDescription desc;
  if (!netrun::LoadNetDescription(o.net, &desc, &error)) {
    std::fprintf(stderr, "netrun: %s\n", error.c_str());
    return kExitDescription;
  }
  netrun::Network net;
  if (!net.Build(desc, &error)) {
    std::fprintf(stderr, "netrun: %s: %s\n", o.net.c_str(), error.c_str());
    return kExitDescription;
  }
  if (!o.inputs.empty()) {
    netrun::NpyArray a;
    if (!netrun::ReadNpy(o.inputs[0].path, &a, &error) || !net.SetInput(a, &error)) {
      std::fprintf(stderr, "netrun: %s\n", error.c_str());
      return kExitDescription;
    }
  }
  std::unique_ptr<engine::core::RunEnv> env;
  if (int rc = MakeEnv(o, &device, &env)) return rc;
  if (int rc = ShapeAndRun(desc.name, net, *env, o)) return rc;
  if (o.outputs.empty()) return kExitOk;
  engine::Tensor* out = net.layers.back()->outputs[0];
  const float* values = out->host_data;
  if (values == nullptr ||
      !netrun::WriteNpy(o.outputs[0].path, {out->n, out->h, out->w, out->c}, values, &error)) {
    std::fprintf(stderr, "netrun: %s\n", error.empty() ? "no output values" : error.c_str());
    return kExitRun;
  }
  return kExitOk;
}

// Pairs each file argument with a port: by name, else the next port in
// order that no argument names.  false with a reason.
bool AssignPorts(const std::vector<PortArg>& args, const std::vector<std::string>& ports,
                 const char* kind, std::vector<std::pair<std::string, std::string>>* out,
                 std::string* error) {
  std::vector<bool> taken(ports.size(), false);
  for (const PortArg& a : args) {
    if (a.name.empty()) continue;
    const auto it = std::find(ports.begin(), ports.end(), a.name);
    if (it == ports.end()) {
      *error = std::string("no graph ") + kind + " named " + a.name;
      return false;
    }
    taken[it - ports.begin()] = true;
  }
  size_t next = 0;
  for (const PortArg& a : args) {
    std::string name = a.name;
    if (name.empty()) {
      while (next < ports.size() && taken[next]) ++next;
      if (next == ports.size()) {
        *error = std::string("more --") + kind + " files than graph " + kind + "s";
        return false;
      }
      taken[next] = true;
      name = ports[next];
    }
    out->emplace_back(name, a.path);
  }
  return true;
}

int RunOnnx(const Options& o) {
  std::string error;
  std::unique_ptr<opencl::clEngine> device;
  auto fail = [&](const std::string& why, int rc) {
    std::fprintf(stderr, "netrun: %s: %s\n", o.net.c_str(), why.c_str());
    return rc;
  };
  netrun::OnnxModel model;
  if (!netrun::ReadOnnxModel(o.net, &model, &error)) return fail(error, kExitDescription);
  // The input arrays come first: their shapes fix the graph's.
  std::vector<std::pair<std::string, std::string>> in_files, out_files;
  if (!AssignPorts(o.inputs, netrun::OnnxRuntimeInputs(model.graph), "input", &in_files, &error))
    return fail(error, kExitDescription);
  std::map<std::string, netrun::NpyArray> arrays;
  std::map<std::string, std::vector<int64_t>> shapes;
  for (const auto& f : in_files) {
    netrun::NpyArray& a = arrays[f.first];
    if (!netrun::ReadNpy(f.second, &a, &error)) return fail(error, kExitDescription);
    if (a.is_u8) return fail(f.second + ": input arrays must be float32", kExitDescription);
    shapes[f.first] = a.shape;
  }
  netrun::OnnxImport imported;
  if (!netrun::ImportOnnx(model, shapes, &imported, &error)) return fail(error, kExitDescription);
  std::vector<std::string> output_names;
  for (const netrun::OnnxPort& p : imported.outputs) output_names.push_back(p.name);
  if (!AssignPorts(o.outputs, output_names, "output", &out_files, &error))
    return fail(error, kExitDescription);

  netrun::Network net;
  for (const netrun::OnnxBlob& b : imported.weights)
    if (!net.AddWeight(b.name, b.shape.data(), b.values.data(), &error)) return fail(error, kExitDescription);
  for (const netrun::OnnxBlob& b : imported.constants)
    if (!net.AddConstant(b.name, b.shape.data(), b.values.data(), &error)) return fail(error, kExitDescription);
  if (!net.Build(imported.net, &error)) return fail(error, kExitDescription);
  for (const netrun::OnnxPort& p : imported.inputs) {
    auto it = arrays.find(p.name);
    if (it == arrays.end()) continue;
    std::vector<float> nhwc(it->second.f32.size());
    netrun::OnnxToEngineOrder(it->second.f32.data(), p.memory, nhwc.data());
    if (!net.SetInputValues(p.tensor, nhwc.data(), nhwc.size(), &error)) return fail(error, kExitDescription);
  }
  std::unique_ptr<engine::core::RunEnv> env;
  if (int rc = MakeEnv(o, &device, &env)) return rc;
  if (int rc = ShapeAndRun(imported.net.name, net, *env, o)) return rc;
  for (const auto& f : out_files) {
    const netrun::OnnxPort* p = nullptr;
    for (const netrun::OnnxPort& q : imported.outputs)
      if (q.name == f.first) p = &q;
    if (p->folded_int) {
      if (!netrun::WriteNpyI64(f.second, p->dims, p->int_values.data(), &error)) {
        std::fprintf(stderr, "netrun: %s\n", error.c_str());
        return kExitRun;
      }
      continue;
    }
    const engine::Tensor& t = net.tensors[p->tensor];
    size_t count = 1;
    for (int64_t d : p->dims) count *= static_cast<size_t>(d);
    if (t.host_data == nullptr || t.elements() != count) {
      std::fprintf(stderr, "netrun: output %s: no values\n", p->name.c_str());
      return kExitRun;
    }
    std::vector<float> values(count);
    netrun::EngineToOnnxOrder(t.host_data, p->memory, values.data());
    if (!netrun::WriteNpy(f.second, p->dims, values.data(), &error)) {
      std::fprintf(stderr, "netrun: %s\n", error.c_str());
      return kExitRun;
    }
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (int rc = ParseArgs(argc, argv, &o)) return rc;
  return o.onnx() ? RunOnnx(o) : RunJson(o);
}
