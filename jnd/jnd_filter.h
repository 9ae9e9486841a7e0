// The JND pre-filter: the abstract filter and its OpenCL implementation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jnd/jnd_packing.h"
#include "jnd/jnd_program.h"
#include "jnd/jnd_weights.h"
#include "jnd/kernel_group_cfg.h"
#include "opencl/cl_engine.h"
#include "opencl/cl_kernel.h"
#include "opencl/cl_memory.h"

namespace jnd {

class JndFilter {
 public:
  virtual ~JndFilter() = default;
  virtual bool release() { return true; }
  virtual bool prepare() { return true; }
  virtual bool update_net_paras(const JNDNetWeights& weights) {
    (void)weights;
    return true;
  }
  // Filters an 8-bit plane of height rows of `stride` bytes; source and
  // destination may be the same plane.
  virtual bool process(const uint8_t* src, uint8_t* dst, int width, int height, int stride,
                       bool finish) = 0;

  const std::string& errorText() const { return error_; }
  bool initialised() const { return initialised_; }

 protected:
  // Records a failure and writes it to standard output.
  void fail(const std::string& text);

  std::string error_;
  bool initialised_ = false;
};

// How a device runs the network: kernel variant, where intermediates go,
// how weights are packed.  A pure function of the device facts, shared by
// the filter and its tests so host and kernel text cannot disagree.
struct JndDevicePlan {
  JndVariant variant = JndVariant::kGeneric;
  // The variant's row: memory forms, kernel arguments, work-item coverage.
  const JndVariantDesc* desc = &VariantDesc(JndVariant::kGeneric);
  bool armImport = false;     // device can import host memory
  bool bufferOut = false;     // kernels write intermediates to buffers
  bool quantised = false;
  bool fp16 = false;
  JndPackingMode packing;
};
JndDevicePlan PlanForDevice(int vendor, bool armImportHost, bool fp16, bool quantised);

// Memory flags of the pipeline.
constexpr cl_mem_flags kInputFlags = CL_MEM_READ_ONLY | CL_MEM_HOST_WRITE_ONLY;
constexpr cl_mem_flags kOutputFlags = CL_MEM_WRITE_ONLY | CL_MEM_HOST_READ_ONLY;
constexpr cl_mem_flags kIntermediateFlags = CL_MEM_READ_WRITE | CL_MEM_HOST_NO_ACCESS;
constexpr cl_mem_flags kWeightFlags = CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR;

// Cache file for a binary cache path and device: the path without its last
// four characters (".bin"), then "_", the device name and ".bin".
std::string JndCacheFileName(const std::string& cachePath, const std::string& deviceName);

// Global sizes of the three kernels for a frame, rounded up so every pixel
// has a work item.
struct JndGlobalSizes {
  size_t conv1[3], conv2[3], conv3[3];
};
JndGlobalSizes GlobalSizesFor(JndVariant variant, int width, int height);

// The Qualcomm variant reads the luma plane as an RGBA image, one texel per
// four pixels; the last texel of a row may be partial.
int QualcommInputTexels(int width);
// Copies a width x height plane (rows `stride` bytes apart) into rows of
// QualcommInputTexels(width) * 4 bytes; the pixels past `width` repeat the
// row's last pixel, as an image read clamped to the edge would.
void PadRowsToTexels(const uint8_t* src, int width, int height, int stride, uint8_t* dst);

class JndFilterCL : public JndFilter {
 public:
  JndFilterCL();
  ~JndFilterCL() override;

  bool initialise(const JNDNetWeights& weights, std::string cachePath, unsigned runMode,
                  int preferredDevice, std::vector<KernelGroupCfg> external, bool quantised);
  bool release() override;
  bool update_net_paras(const JNDNetWeights& weights) override;
  bool process(const uint8_t* src, uint8_t* dst, int width, int height, int stride,
               bool finish) override;

  // Read-only views for callers that report on the filter.
  const opencl::clEngine& engine() const { return *engine_; }
  const JndDevicePlan& plan() const { return plan_; }
  const opencl::ClKernel& kernel(int i) const { return *kernels_[i]; }
  float s1() const { return s1_; }
  float s2() const { return s2_; }
  // Number of weight-set uploads since construction.
  int weightUploads() const { return weight_uploads_; }
  // Number of device-memory set-ups (geometry changes) since construction.
  int geometrySetups() const { return geometry_setups_; }

 private:
  // Device memory and kernel arguments for a frame geometry, as the
  // variant's row lays them out.
  bool setUpGeometry(int width, int height, int stride, const uint8_t* src, uint8_t* dst);
  // The input plane's memory; false only when the host copy for partial
  // texels cannot be allocated (device failures land in *ok).
  bool setUpInput(const uint8_t* src, bool* ok);
  bool setUpOutput(uint8_t* dst);
  bool intermediatesOverBuffers() const;
  // Binds argument `index` of kernel `kernel` to what `arg` names.
  void setArgument(int kernel, int index, JndArg arg);
  bool bindImportedInput(const uint8_t* src);
  bool bindImportedOutput(uint8_t* dst);
  // Releases every device object and drops the kernels; allocates nothing,
  // so the destructor may use it.
  void releaseDevice();
  void releaseMemory();
  void clearGeometry();
  void printConfigRow();

  std::unique_ptr<opencl::clEngine> engine_;
  cl_mem weights_[3] = {nullptr, nullptr, nullptr};
  std::unique_ptr<opencl::ClMemory> input_, inter1_, inter2_, output_;
  std::unique_ptr<opencl::ClKernel> kernels_[3];
  float s1_ = 1.0f, s2_ = 1.0f;
  std::vector<KernelGroupCfg> external_;
  JndDevicePlan plan_;
  bool profiling_ = false;
  bool tuning_ = false;
  bool quantised_ = false;
  const bool hostMapped_ = true;
  bool inputImported_ = false;
  bool outputImported_ = false;
  bool resources_ = false;  // engine and program alive
  int width_ = 0, height_ = 0, stride_ = 0;
  const uint8_t* lastSrc_ = nullptr;
  uint8_t* lastDst_ = nullptr;
  int weight_uploads_ = 0;
  int geometry_setups_ = 0;
  // Qualcomm variant with a width not divisible by 4: the plane padded to
  // whole texels before each upload (empty otherwise).
  std::vector<uint8_t> padded_;
  // The set last given to update_net_paras, and whether all three weight
  // buffers hold it.  A failed upload leaves them missing or mixed from two
  // sets; process uploads the set again before it filters with them.
  JNDNetWeights weights_set_{};
  bool weights_whole_ = false;
};

}  // namespace jnd
