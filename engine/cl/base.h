// State every OpenCL layer shares: its kernel runner, where it runs and in
// which memory forms it exchanges tensors, and the common run step that
// moves tensors between host and device at the border between OpenCL and
// CPU layers.
#pragma once

#include <array>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "engine/layer.h"
#include "opencl/cl_kernel.h"
#include "opencl/cl_memory.h"

namespace engine {
namespace cl {

// Tensor forms on the device.
constexpr int kModeHalfBuffer = 0;  // NHWC halves, exactly c per pixel
constexpr int kModeHalfImage = 1;   // RGBA half image in layout 0
constexpr int kModeByteBuffer = 2;  // NHWC bytes

using WorkGroupTable = std::map<std::string, std::array<size_t, 3>>;

// A run environment with an OpenCL device: per-device tables of tuned
// local work sizes by layer name.
class RunEnv : public core::RunEnv {
 public:
  std::vector<WorkGroupTable> work_groups;
  int current_device = 0;
};

class Base : public virtual Layer {
 public:
  bool use_buffer_weight(opencl::clEngine* engine) override;
  void dump_config() override;
  bool load_config(core::RunEnv& env) override;

  // The tuned work-group line dump_config prints.
  std::string config_line() const;

  // Whether the output tensor t of this layer stays on the device after a
  // run: this layer ran there, every activation working on t in place was
  // applied by the kernel, t has consumers, and each of them is an OpenCL
  // layer on the device that reads t in the form this layer writes it.
  // Producer and consumers decide by this one rule, so a consumer never
  // reads memory that its producer did not fill.
  bool output_stays_on_device(const Tensor* t) const;
  // The device form this layer reads input t in.
  virtual int input_form(const Tensor* t) const;
  // The device form this layer writes output t in.
  virtual int output_form(const Tensor* t) const;

  opencl::ClKernel kernel;
  bool on_device = false;
  int input_mode = kModeHalfImage;
  int output_mode = kModeHalfImage;
  bool prepared = false;
  // The activation_flag handed to the kernel (1 or 5: applied in the
  // kernel; 0: none).
  int activation_flag = 0;

 protected:
  // Leaves the device: the layer's runs take the CPU computation.
  void stay_on_host();
  // Creates the output memory and the kernel, and makes the layer's inputs
  // then its outputs the kernel's first arguments (in_slots and out_slots
  // when the kernel takes more memory objects than the layer has tensors;
  // their memory is bound at each run).  Returns the index of the next
  // argument, or -1 when the device refuses.
  int start_kernel(opencl::clEngine* engine, const std::string& kernel_name, int in_slots = -1,
                   int out_slots = -1);
  // After the CPU class's shape inference (shaped): the device preparation.
  // A preparation that succeeds puts the layer on the device; one that
  // fails leaves it on the CPU.  Only a shape that cannot be formed
  // answers false.
  bool prepare_after(bool shaped, core::RunEnv& env);
  // Chooses the kernel, uploads constant data, creates the output memory
  // and sets the arguments; true puts the layer on the device, false keeps
  // it on the CPU.
  virtual bool prepare(core::RunEnv& env);
  // Whether the layer's tensors can take the usual device forms: an
  // initialised engine, batch 1, inputs holding float values, and layout-0
  // images no wider than the device allows.
  bool images_fit(opencl::clEngine* engine) const;
  // The kernel's activation_flag for this layer's first in-place
  // activation: its kind when it is 1 or 5 and the kernel takes the flag.
  int device_activation_flag() const;
  // Creates the device memory of output i in this layer's output form
  // (kept in the tensor, which owns it).  false when the device refuses.
  bool create_output_memory(size_t i, opencl::clEngine* engine);
  // The common run step: brings inputs to the device where needed, binds
  // the memory objects to the kernel arguments named by input_args and
  // output_args, launches (or tunes), marks a kernel-applied activation as
  // fused, and reads outputs back where a host consumer needs them.
  bool run_device(core::RunEnv& env);
  // Whether the layer's kernel takes an activation_flag and applies it
  // (the convolutions, binary_op and batchnorm); other device layers leave
  // a following activation to run on its own.
  virtual bool kernel_takes_activation() const { return false; }
  // Called after the inputs and outputs are bound and before the arguments
  // go to OpenCL, for kernels that take a memory object twice or more.
  virtual void before_launch() {}

  // Kernel argument index of each input's and output's memory object.
  std::vector<int> input_args;
  std::vector<int> output_args;

 private:
  bool upload(size_t i, opencl::clEngine* engine, cl_mem* mem);
  bool read_back(Tensor* t, opencl::clEngine* engine);

  std::vector<std::unique_ptr<opencl::ClMemory>> staged_;
  std::vector<uint16_t> halves_;
};

// The OpenCL level of a layer type over its CPU class: each reshape takes
// the CPU class's shapes, then the device preparation (prepare); each run
// launches the kernel where the preparation put the layer on the device,
// else runs the CPU computation.  A device layer derives from
// DeviceLayer<simd::X> (or the core class where the CPU level adds
// nothing), inherits the constructor and gives only what is particular to
// its kernels: prepare, and the hooks above where its kernels need them.
template <class Cpu>
class DeviceLayer : public Cpu, public Base {
 public:
  using Cpu::Cpu;
  // Where the CPU class answers whether weights go to buffers, its answer
  // stands; the kernel choice asks Base's.
  bool use_buffer_weight(opencl::clEngine* engine) override {
    if constexpr (kCpuAnswersBufferWeight) return Cpu::use_buffer_weight(engine);
    return Base::use_buffer_weight(engine);
  }
  // The output shapes, then the device preparation; false only when the
  // shapes cannot be formed.
  bool reshape(core::RunEnv& env) override {
    stay_on_host();
    return prepare_after(Cpu::reshape(env), env);
  }
  bool run(core::RunEnv& env) override { return on_device ? run_device(env) : Cpu::run(env); }

 private:
  static constexpr bool kCpuAnswersBufferWeight =
      !std::is_same_v<decltype(&Cpu::use_buffer_weight), bool (Layer::*)(opencl::clEngine*)>;
};

// Whether every value fits the kernels' 16-bit extent arguments.
bool FitsShort(std::initializer_list<int64_t> values);

// Whether t's values are current on the host before its consumers run:
// false only when its producer keeps it on the device.
bool HostHolds(const Tensor* t);

// The largest 2D image width the engine's device accepts (0 when unknown).
size_t MaxImageWidth(opencl::clEngine* engine);

// Whether t fits an RGBA half image in layout 0 on the engine's device.
bool ImageFits(const Tensor* t, opencl::clEngine* engine);
// The device form t is written in: its producer's output form when the
// producer is an OpenCL layer on the device, else the form of the device
// memory t holds (an image before a buffer); -1 when t has none.
int DeviceFormOf(const Tensor* t);

// Half-precision copies on the device.
// A buffer of halves (zero-padded to a multiple of 4 values).
bool UploadHalfBuffer(opencl::ClMemory* mem, const std::vector<uint16_t>& halves);
// An RGBA half image of the given texels (width x height x 4 halves).
bool UploadHalfImage(opencl::ClMemory* mem, int width, int height,
                     const std::vector<uint16_t>& texels);

extern const char* const kConfigLineFormat;  // "{\"%s\",{%zu,%zu,%zu}},"
extern const char* const kErrNoDeviceMemory;  // "device memory missing or refused"

}  // namespace cl
}  // namespace engine
