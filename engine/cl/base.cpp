#include "engine/cl/base.h"

#include <algorithm>
#include <cstdio>

#include "engine/cl/device_layout.h"
#include "engine/core/activation.h"
#include "opencl/half.h"

namespace engine {
namespace cl {

const char* const kConfigLineFormat = "{\"%s\",{%zu,%zu,%zu}},";
const char* const kErrNoDeviceMemory = "device memory missing or refused";

namespace {

const char* const kErrNoEngine = "no OpenCL engine";
const char* const kErrNoHostValues = "input has no host values in the form the device reads";
const char* const kErrLaunch = "kernel launch failed";
const char* const kErrReadBack = "reading the output back failed";

size_t HalfCount(size_t elements) { return (elements + 3) / 4 * 4; }

cl_mem MemOf(const opencl::ClMemory* m, int form) {
  if (m == nullptr) return nullptr;
  return form == kModeHalfImage ? m->image : m->buffer;
}

// Whether m already has the form and size wanted.
bool Fits(const opencl::ClMemory* m, int form, int width, int height, size_t bytes) {
  if (m == nullptr) return false;
  if (form == kModeHalfImage)
    return m->image != nullptr && m->width == width && m->height == height;
  return m->buffer != nullptr && static_cast<size_t>(m->byteSize) == bytes;
}

bool CreateForm(opencl::ClMemory* m, int form, int width, int height, size_t bytes) {
  if (form == kModeHalfImage)
    return m->CreateImage(width, height, CL_HALF_FLOAT, CL_RGBA, CL_MEM_READ_WRITE);
  return m->CreateBuffer(bytes, CL_MEM_READ_WRITE);
}

// Extent of a tensor in a device form: texels for images, bytes for
// buffers.
void FormSize(const Tensor* t, int form, int* width, int* height, size_t* bytes) {
  *width = *height = 0;
  *bytes = 0;
  if (form == kModeHalfImage) {
    const TexelExtent e = ImageExtent(0, t->n, t->h, t->w, t->c);
    *width = e.width;
    *height = e.height;
  } else if (form == kModeHalfBuffer) {
    *bytes = HalfCount(t->elements()) * sizeof(uint16_t);
  } else {
    *bytes = t->elements();
  }
}

}  // namespace

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

int Base::input_form(const Tensor*) const { return input_mode; }
int Base::output_form(const Tensor*) const { return output_mode; }

bool Base::output_stays_on_device(const Tensor* t) const {
  if (!on_device) return false;
  // An in-place activation the kernel did not apply runs on the host and
  // needs the values there; so does every consumer after it.
  const bool applied = next_layers.size() == 1 && activation_flag != 0 && kernel_takes_activation();
  if (!next_layers.empty() && !applied) return false;
  if (t->consumers.empty()) return false;
  const int form = output_form(t);
  for (const Layer* c : t->consumers) {
    const Base* b = dynamic_cast<const Base*>(c);
    if (b == nullptr || !b->on_device || b->input_form(t) != form) return false;
  }
  return true;
}

bool HostHolds(const Tensor* t) {
  const Base* p = dynamic_cast<const Base*>(t->producer);
  return p == nullptr || !p->output_stays_on_device(t);
}

size_t MaxImageWidth(opencl::clEngine* engine) {
  if (engine == nullptr || engine->device == nullptr) return 0;
  size_t width = 0;
  if (clGetDeviceInfo(engine->device, CL_DEVICE_IMAGE2D_MAX_WIDTH, sizeof width, &width, nullptr) !=
      CL_SUCCESS)
    return 0;
  return width;
}

bool ImageFits(const Tensor* t, opencl::clEngine* engine) {
  const TexelExtent e = ImageExtent(kLayoutActivation, t->n, t->h, t->w, t->c);
  return e.width > 0 && static_cast<size_t>(e.width) <= MaxImageWidth(engine);
}

int DeviceFormOf(const Tensor* t) {
  const Base* p = dynamic_cast<const Base*>(t->producer);
  if (p != nullptr && p->on_device) return p->output_form(t);
  if (t->device_mem == nullptr) return -1;
  if (t->device_mem->image != nullptr) return kModeHalfImage;
  return t->device_mem->buffer != nullptr ? kModeHalfBuffer : -1;
}

bool UploadHalfBuffer(opencl::ClMemory* mem, const std::vector<uint16_t>& halves) {
  std::vector<uint16_t> padded(halves);
  padded.resize(HalfCount(halves.size()), 0);
  const size_t bytes = padded.size() * sizeof(uint16_t);
  if (!Fits(mem, kModeHalfBuffer, 0, 0, bytes) && !mem->CreateBuffer(bytes, CL_MEM_READ_ONLY))
    return false;
  return mem->Write(padded.data(), bytes, false, true);
}

bool UploadHalfImage(opencl::ClMemory* mem, int width, int height,
                     const std::vector<uint16_t>& texels) {
  if (width < 1 || height < 1 || texels.size() < static_cast<size_t>(width) * height * 4)
    return false;
  if (!Fits(mem, kModeHalfImage, width, height, 0) &&
      !mem->CreateImage(width, height, CL_HALF_FLOAT, CL_RGBA, CL_MEM_READ_ONLY))
    return false;
  return mem->WriteImage(texels.data(), CL_HALF_FLOAT, 0, false, true);
}

bool FitsShort(std::initializer_list<int64_t> values) {
  for (int64_t v : values)
    if (v < -32768 || v > 32767) return false;
  return true;
}

bool Base::images_fit(opencl::clEngine* engine) const {
  if (engine == nullptr || !engine->initialized) return false;
  for (const std::vector<Tensor*>* list : {&inputs, &outputs})
    for (const Tensor* t : *list) {
      if (t->n != 1 || (list == &inputs && t->host_u8 != nullptr) || !ImageFits(t, engine))
        return false;
    }
  return true;
}

bool Base::prepare(core::RunEnv&) { return false; }

int Base::start_kernel(opencl::clEngine* engine, const std::string& kernel_name, int in_slots,
                       int out_slots) {
  for (size_t i = 0; i < outputs.size(); ++i)
    if (!create_output_memory(i, engine)) return -1;
  if (!kernel.Init(engine, kernel_name, name, true)) return -1;
  kernel.detail = type + "_" + config_key();
  const int n_in = static_cast<int>(inputs.size());
  const int n_out = static_cast<int>(outputs.size());
  if (in_slots < n_in) in_slots = n_in;
  if (out_slots < n_out) out_slots = n_out;
  input_args.clear();
  output_args.clear();
  for (int i = 0; i < n_in; ++i) input_args.push_back(i);
  for (int i = 0; i < n_out; ++i) output_args.push_back(in_slots + i);
  for (int i = 0; i < in_slots + out_slots; ++i) kernel.SetArgMem(i, nullptr);
  return in_slots + out_slots;
}

bool Base::prepare_after(bool shaped, core::RunEnv& env) {
  if (!shaped) return false;
  prepared = prepare(env);
  if (prepared) {
    on_device = true;
  } else {
    stay_on_host();
  }
  return true;
}

void Base::stay_on_host() {
  on_device = false;
  prepared = false;
  activation_flag = 0;
}

int Base::device_activation_flag() const {
  if (next_layers.empty() || !kernel_takes_activation()) return 0;
  const auto* a = dynamic_cast<const core::Activation*>(next_layers[0]);
  if (a == nullptr) return 0;
  return a->kind == kActRelu || a->kind == kActSigmoid ? a->kind : 0;
}

bool Base::create_output_memory(size_t i, opencl::clEngine* engine) {
  if (i >= outputs.size() || engine == nullptr) return false;
  Tensor* t = outputs[i];
  const int form = output_form(t);
  int width = 0, height = 0;
  size_t bytes = 0;
  FormSize(t, form, &width, &height, &bytes);
  if (form == kModeHalfImage && static_cast<size_t>(width) > MaxImageWidth(engine)) return false;
  if (t->device_mem != nullptr && !t->external_mem && t->device_mem->engine == engine &&
      Fits(t->device_mem, form, width, height, bytes))
    return true;
  if (!t->external_mem) delete t->device_mem;
  t->device_mem = nullptr;
  t->external_mem = false;
  auto mem = std::make_unique<opencl::ClMemory>(engine);
  if (!CreateForm(mem.get(), form, width, height, bytes)) return false;
  t->device_mem = mem.release();
  return true;
}

bool Base::upload(size_t i, opencl::clEngine* engine, cl_mem* mem) {
  Tensor* t = inputs[i];
  const int form = input_form(t);
  int width = 0, height = 0;
  size_t bytes = 0;
  FormSize(t, form, &width, &height, &bytes);
  if (form == kModeHalfImage && static_cast<size_t>(width) > MaxImageWidth(engine))
    return fail(kErrNoDeviceMemory);
  std::unique_ptr<opencl::ClMemory>& m = staged_[i];
  if (!m || m->engine != engine) m = std::make_unique<opencl::ClMemory>(engine);
  if (!Fits(m.get(), form, width, height, bytes) && !CreateForm(m.get(), form, width, height, bytes))
    return fail(kErrNoDeviceMemory);
  bool ok = false;
  if (form == kModeByteBuffer) {
    if (t->host_u8 == nullptr) return fail(kErrNoHostValues);
    ok = m->Write(t->host_u8, t->elements(), false, true);
  } else {
    if (t->host_data == nullptr) return fail(kErrNoHostValues);
    if (form == kModeHalfImage) {
      halves_ = PackTexels(0, t->host_data, t->n, t->h, t->w, t->c);
      ok = m->WriteImage(halves_.data(), CL_HALF_FLOAT, 0, false, true);
    } else {
      halves_.assign(HalfCount(t->elements()), 0);
      opencl::FloatToHalf(t->host_data, halves_.data(), t->elements());
      ok = m->Write(halves_.data(), halves_.size() * sizeof(uint16_t), false, true);
    }
  }
  if (!ok) return fail(kErrNoDeviceMemory);
  *mem = MemOf(m.get(), form);
  return true;
}

bool Base::read_back(Tensor* t, opencl::clEngine*) {
  const int form = output_form(t);
  opencl::ClMemory* m = t->device_mem;
  if (m == nullptr) return fail(kErrNoDeviceMemory);
  if (form == kModeByteBuffer) {
    uint8_t* dst = t->ensure_u8();
    return dst != nullptr && m->Read(dst, t->elements(), false, true) ? true : fail(kErrReadBack);
  }
  float* dst = t->ensure_host();
  if (dst == nullptr) return fail(kErrReadBack);
  if (form == kModeHalfImage) {
    halves_.assign(static_cast<size_t>(m->width) * m->height * 4, 0);
    // Blocking: the values are converted right after.
    if (!m->ReadImage(halves_.data(), false, true)) return fail(kErrReadBack);
    UnpackLayout0(halves_.data(), t->n, t->h, t->w, t->c, dst);
    return true;
  }
  uint16_t* half = t->ensure_half();
  if (half == nullptr || !m->Read(half, t->elements() * sizeof(uint16_t), false, true))
    return fail(kErrReadBack);
  opencl::HalfToFloat(half, dst, t->elements());
  return true;
}

bool Base::run_device(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  if (engine == nullptr) return fail(kErrNoEngine);
  staged_.resize(inputs.size());
  std::vector<cl_event> waits;
  for (size_t i = 0; i < inputs.size() && i < input_args.size(); ++i) {
    Tensor* t = inputs[i];
    cl_mem mem = nullptr;
    const Base* producer = dynamic_cast<const Base*>(t->producer);
    if (producer != nullptr && producer->output_stays_on_device(t)) {
      mem = MemOf(t->device_mem, input_form(t));
      if (mem == nullptr) return fail(kErrNoDeviceMemory);
      if (engine->outOfOrder && producer->kernel.event != nullptr)
        waits.push_back(producer->kernel.event);
    } else if (!upload(i, engine, &mem)) {
      return false;
    }
    kernel.SetArgMem(input_args[i], mem);
  }
  for (size_t i = 0; i < outputs.size() && i < output_args.size(); ++i) {
    cl_mem mem = MemOf(outputs[i]->device_mem, output_form(outputs[i]));
    if (mem == nullptr) return fail(kErrNoDeviceMemory);
    kernel.SetArgMem(output_args[i], mem);
  }
  before_launch();
  if (!kernel.SetArgs()) return fail(kErrLaunch);
  const bool launched = env.tune ? kernel.Tune()
                                 : kernel.Run(env.profile, false, false, waits);
  if (!launched) return fail(kErrLaunch);
  if (env.profile) kernel.PrintProfile();
  placement = "cl:" + kernel.kernelName;

  if (activation_flag != 0 && kernel_takes_activation() && !next_layers.empty()) {
    if (auto* a = dynamic_cast<core::Activation*>(next_layers[0])) a->fused = true;
  }
  for (Tensor* t : outputs)
    if (!output_stays_on_device(t) && !read_back(t, engine)) return false;
  return true;
}

}  // namespace cl
}  // namespace engine
