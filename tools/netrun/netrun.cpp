// netrun: builds a network from its description through the layer
// registry, infers its shapes and prints each layer's outputs; with
// --output it also runs the layers (printing where each ran, with which
// kernel, and for how long) and writes the last layer's output.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/cl/base.h"
#include "opencl/cl_engine.h"
#include "platform/platform.h"
#include "tools/netrun/engine_program.h"
#include "tools/netrun/network.h"

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
    "  Builds the network, infers its shapes and prints each layer's outputs.\n"
    "  --input X.npy   values (and shape) of the first network input\n"
    "  --output Y.npy  run the network and write the last layer's output\n"
    "  --device        cpu (default) or cl (an OpenCL device)\n"
    "  --persona NAME  present this machine's OpenCL device as NAME (test use)\n"
    "  A cl run prints each layer's placement (cl:KERNEL on the device, cpu:KERNEL\n"
    "  where no device kernel fits) and its time.\n"
    "  Exit codes: 0 done, 1 usage, 2 description or shapes, 3 run failed,\n"
    "  4 no usable OpenCL device for --device cl.\n";

struct Options {
  std::string net, input, output, device = "cpu", persona;
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
    if (a == "--input") {
      ok = value(&o->input);
    } else if (a == "--output") {
      ok = value(&o->output);
    } else if (a == "--device") {
      ok = value(&o->device) && (o->device == "cpu" || o->device == "cl");
    } else if (a == "--persona") {
      ok = value(&o->persona);
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

void PrintShapes(const netrun::NetDescription& desc, netrun::Network& net, const Options& o) {
  std::printf("network %s: %zu layers, device %s\n", desc.name.c_str(), net.layers.size(),
              o.device.c_str());
  for (const std::string& name : net.input_names) {
    const engine::Tensor& t = net.tensors[name];
    std::printf("  %-20s %-18s %s %s\n", "(input)", name.c_str(), netrun::ShapeText(t).c_str(),
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

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (int rc = ParseArgs(argc, argv, &o)) return rc;
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
  if (!o.input.empty()) {
    netrun::NpyArray a;
    if (!netrun::ReadNpy(o.input, &a, &error) || !net.SetInput(a, &error)) {
      std::fprintf(stderr, "netrun: %s\n", error.c_str());
      return kExitDescription;
    }
  }

  std::unique_ptr<engine::core::RunEnv> env;
  if (o.device == "cl") {
    if (!o.persona.empty() && !LoadPersona(o.persona, &error)) {
      std::fprintf(stderr, "netrun: %s\n", error.c_str());
      return kExitNoDevice;
    }
    device = std::make_unique<opencl::clEngine>();
    // Profiling on: each device layer's time comes from its kernel's
    // OpenCL event.
    if (!device->Init(opencl::kVendorUnknown, true, false)) {
      std::fprintf(stderr, "netrun: no OpenCL device: %s\n", device->lastError.c_str());
      return kExitNoDevice;
    }
    if (!netrun::BuildEngineProgram(*device, netrun::DefaultEngineVariants(), &error)) {
      std::fprintf(stderr, "netrun: the engine kernels do not build on %s: %s\n",
                   device->deviceName.c_str(), error.c_str());
      return kExitNoDevice;
    }
    auto cl_env = std::make_unique<engine::cl::RunEnv>();
    cl_env->engine = device.get();
    cl_env->profile = true;
    env = std::move(cl_env);
  } else {
    env = std::make_unique<engine::core::RunEnv>();
  }

  if (!net.Reshape(*env, &error)) {
    std::fprintf(stderr, "netrun: %s: %s\n", o.net.c_str(), error.c_str());
    return kExitDescription;
  }
  PrintShapes(desc, net, o);

  if (!o.output.empty()) {
    if (!net.Run(*env, &error)) {
      std::fprintf(stderr, "netrun: %s\n", error.c_str());
      return kExitRun;
    }
    std::printf("run:\n");
    for (size_t i = 0; i < net.order.size(); ++i) {
      const engine::Layer* l = net.order[i];
      std::printf(kRunLineFormat, l->name.c_str(), l->type.c_str(), l->placement.c_str(),
                  net.seconds[i] * 1e3, net.device_timed[i] ? "device" : "host");
    }
    engine::Tensor* out = net.layers.back()->outputs[0];
    const float* values = out->host_data;
    if (values == nullptr ||
        !netrun::WriteNpy(o.output, {out->n, out->h, out->w, out->c}, values, &error)) {
      std::fprintf(stderr, "netrun: %s\n", error.empty() ? "no output values" : error.c_str());
      return kExitRun;
    }
  }
  return kExitOk;
}
