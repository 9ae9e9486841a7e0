#include "jnd/jnd_filter.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "opencl/cl_dispatch.h"
#include "opencl/cl_error.h"
#include "opencl/scoped_cost.h"

namespace jnd {

namespace {

constexpr char kNotInitialised[] = "Not Initialized!";
constexpr char kNotInitialisedUpdate[] = "Not Initialized!(in update_net_paras)";
constexpr char kGeometryFailed[] = "Can not set up device memory for the frame";
constexpr char kBadFrame[] = "Invalid frame geometry";
constexpr char kUploadFailed[] = "Upload of the frame failed";
constexpr char kLaunchFailed[] = "Kernel launch failed";
constexpr char kReadFailed[] = "Read-back of the frame failed";
constexpr char kWeightsFailed[] = "Upload of the weights failed";
constexpr char kInitLog[] = "cl_bin_file:%s, run_mode:%d, prefer_dev_type:%d\n";
constexpr char kCacheLoaded[] = "LoadCLKernel bin file successfully !\n";
constexpr char kCacheStale[] = "Jnd Kernel need updated \n";
constexpr char kInputImported[] = "Input using arm import..... \n";
constexpr char kInputNotImported[] = "Input can not use arm import..... \n";
constexpr char kIonImage[] = "Create input ION image successfully \n";
constexpr char kIonImageFailed[] = "Create input ION image failed, so use normal image \n";
constexpr char kOutputImported[] = "Output using arm import..... \n";
constexpr char kOutputNotImported[] = "Output can not using arm import..... \n";
constexpr char kQuantCfgCount[] = "total number of quant kernel cfg items:%d\n";
constexpr char kCfgCount[] = "total number of kernel cfg items:%d\n";
constexpr char kInternalOk[] = "load_kernel_group_cfg internal successfully !\n";
constexpr char kInternalFailed[] = "load_kernel_group_cfg internal failed !\n";
constexpr char kExternalOk[] = "load_kernel_group_cfg external successfully !\n";
constexpr char kExternalFailed[] = "load_kernel_group_cfg external failed !\n";
constexpr char kTuningKernel[] = "Tuning Kernel%d......\n";

constexpr uint32_t kIonPolicyIoCoherent = 0x40A9;
constexpr uint32_t kIonPolicyDefault = 0x40A4;

size_t CeilDiv(int value, int by) { return static_cast<size_t>((value + by - 1) / by); }

// Where conv1 takes its input plane (a buffer over imported host memory
// goes there too).
int InputArgIndex(const JndVariantDesc& v) {
  const int buffer = ArgIndex(v, 0, JndArg::kInputBuffer);
  return buffer >= 0 ? buffer : ArgIndex(v, 0, JndArg::kInputImage);
}

}  // namespace

void JndFilter::fail(const std::string& text) {
  error_ = text;
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

JndDevicePlan PlanForDevice(int vendor, bool armImportHost, bool fp16, bool quantised) {
  JndDevicePlan p;
  p.desc = &VariantDesc(VariantForVendor(vendor));
  p.variant = p.desc->variant;
  p.armImport = armImportHost;
  p.bufferOut = armImportHost;
  p.quantised = quantised;
  p.fp16 = fp16;
  p.packing.quantised = quantised;
  p.packing.bufferWrites = p.desc->writesBuffers || p.bufferOut;
  p.packing.fp16 = fp16;
  p.packing.s1 = p.packing.s2 = quantised ? 0.5f : 1.0f;
  return p;
}

std::string JndCacheFileName(const std::string& cachePath, const std::string& deviceName) {
  const std::string stem = cachePath.size() < 4 ? cachePath : cachePath.substr(0, cachePath.size() - 4);
  return stem + "_" + deviceName + ".bin";
}

JndGlobalSizes GlobalSizesFor(JndVariant variant, int w, int h) {
  const JndVariantDesc& v = VariantDesc(variant);
  JndGlobalSizes g{};
  size_t* sizes[kJndKernels] = {g.conv1, g.conv2, g.conv3};
  for (int k = 0; k < kJndKernels; ++k) {
    sizes[k][0] = CeilDiv(w, v.pixelsPerItem[k][0]);
    sizes[k][1] = CeilDiv(h, v.pixelsPerItem[k][1]);
    sizes[k][2] = 1;
  }
  return g;
}

int QualcommInputTexels(int width) { return static_cast<int>(CeilDiv(width, 4)); }

void PadRowsToTexels(const uint8_t* src, int width, int height, int stride, uint8_t* dst) {
  if (width <= 0) return;
  const size_t row = static_cast<size_t>(QualcommInputTexels(width)) * 4;
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = src + static_cast<size_t>(y) * static_cast<size_t>(stride);
    uint8_t* out = dst + static_cast<size_t>(y) * row;
    std::memcpy(out, in, static_cast<size_t>(width));
    std::memset(out + width, in[width - 1], row - static_cast<size_t>(width));
  }
}

JndFilterCL::JndFilterCL() : engine_(new opencl::clEngine()) {
  input_.reset(new opencl::ClMemory(engine_.get()));
  inter1_.reset(new opencl::ClMemory(engine_.get()));
  inter2_.reset(new opencl::ClMemory(engine_.get()));
  output_.reset(new opencl::ClMemory(engine_.get()));
  for (auto& k : kernels_) k.reset(new opencl::ClKernel());
  for (opencl::ClMemory* m : {input_.get(), inter1_.get(), inter2_.get(), output_.get()})
    m->hostCachePolicy = opencl::kHostCacheWriteBack;
}

JndFilterCL::~JndFilterCL() {
  releaseDevice();
  input_.reset();
  inter1_.reset();
  inter2_.reset();
  output_.reset();
  engine_.reset();
}

bool JndFilterCL::initialise(const JNDNetWeights& weights, std::string cachePath,
                             unsigned runMode, int preferredDevice,
                             std::vector<KernelGroupCfg> external, bool quantised) {
  std::printf(kInitLog, cachePath.c_str(), static_cast<int>(runMode), preferredDevice);
  initialised_ = false;
  if (resources_) release();
  profiling_ = runMode == 1;
  tuning_ = runMode == 2;
  external_ = std::move(external);

  {
    opencl::ScopedCost cost("--_cl_engine.Init");
    if (!engine_->Init(preferredDevice < 10 ? preferredDevice : 0, profiling_ || tuning_, false)) {
      fail(engine_->lastError);
      return false;
    }
  }
  resources_ = true;
  quantised_ = quantised;
  plan_ = PlanForDevice(engine_->vendor, engine_->armImportHost, engine_->fp16, quantised);
  s1_ = s2_ = 1.0f;
  if (quantised) s1_ = s2_ = 0.5f;

  std::string program;
  {
    opencl::ScopedCost cost("--_cl_engine->CompileSource");
    program = AssembleJndProgram(plan_.variant, quantised, plan_.bufferOut);
  }

  std::string cacheFile;
  bool loaded = false;
  if (!cachePath.empty()) {
    cacheFile = JndCacheFileName(cachePath, engine_->deviceName);
    if (engine_->LoadBinary(cacheFile)) {
      if (engine_->GetKernel(kJndMarkerKernel, false, true) != nullptr) {
        std::printf(kCacheLoaded);
        loaded = true;
      } else {
        std::printf(kCacheStale);
      }
    }
  }
  if (!loaded && !engine_->BuildFromSource(program.c_str(), cacheFile)) {
    fail(engine_->lastError);
    return false;
  }

  const char* names[3] = {kJndConv1Kernel, kJndConv2Kernel, kJndConv3Kernel};
  const char* labels[3] = {"conv1", "conv2", "conv3"};
  for (int i = 0; i < 3; ++i) {
    kernels_[i].reset(new opencl::ClKernel());
    if (!kernels_[i]->Init(engine_.get(), names[i], labels[i], false)) {
      fail(engine_->lastError.empty() ? std::string("Can not create kernel ") + names[i]
                                      : engine_->lastError);
      return false;
    }
  }
  initialised_ = true;
  update_net_paras(weights);
  return true;
}

bool JndFilterCL::update_net_paras(const JNDNetWeights& weights) {
  if (!initialised_ || !resources_) {
    fail(kNotInitialisedUpdate);
    return false;
  }
  weights_set_ = weights;
  weights_whole_ = false;
  JndPackingMode mode = plan_.packing;
  mode.s1 = s1_;
  mode.s2 = s2_;
  const JndPackedBytes bytes = ToDeviceBytes(PackJndWeights(weights, mode), mode);
  const std::vector<uint8_t>* layers[3] = {&bytes.conv1, &bytes.conv2, &bytes.conv3};
  bool ok = true;
  for (int i = 0; i < 3; ++i) {
    const std::vector<uint8_t>& data = *layers[i];
    if (weights_[i] != nullptr) {
      ok = engine_->WriteBuffer(weights_[i], data.data(), data.size(), hostMapped_, true) && ok;
    } else {
      weights_[i] = engine_->CreateBuffer(data.size(), kWeightFlags,
                                          const_cast<uint8_t*>(data.data()));
      ok = weights_[i] != nullptr && ok;
    }
  }
  ++weight_uploads_;
  // Kernels bound to a previous buffer keep working: buffers are rewritten
  // in place, and new ones are bound at the next geometry set-up.
  if (ok && width_ != 0) {
    for (int i = 0; i < 3; ++i) {
      const int at = ArgIndex(*plan_.desc, i, JndArg::kWeights);
      kernels_[i]->SetArgMem(at, weights_[i]);
      ok = kernels_[i]->SetArgs(at) && ok;
    }
  }
  weights_whole_ = ok;
  return ok;
}

void JndFilterCL::releaseMemory() {
  for (opencl::ClMemory* m : {input_.get(), inter1_.get(), inter2_.get(), output_.get()})
    if (m) m->Release();
  inputImported_ = outputImported_ = false;
}

void JndFilterCL::clearGeometry() {
  width_ = height_ = stride_ = 0;
  lastSrc_ = nullptr;
  lastDst_ = nullptr;
}

void JndFilterCL::releaseDevice() {
  for (cl_mem& w : weights_) {
    if (w != nullptr) clReleaseMemObject(w);
    w = nullptr;
  }
  releaseMemory();
  for (auto& k : kernels_) k.reset();
  if (engine_) engine_->Release();
  resources_ = false;
  clearGeometry();
  plan_.bufferOut = false;
  plan_.armImport = false;
}

bool JndFilterCL::release() {
  releaseDevice();
  for (auto& k : kernels_) k.reset(new opencl::ClKernel());
  return true;
}

bool JndFilterCL::bindImportedInput(const uint8_t* src) {
  const size_t bytes = static_cast<size_t>(height_) * static_cast<size_t>(stride_);
  inputImported_ = input_->ImportHostMemory(bytes, const_cast<uint8_t*>(src));
  if (!inputImported_ && !input_->CreateBuffer(bytes, kInputFlags | CL_MEM_ALLOC_HOST_PTR))
    return false;
  const int at = InputArgIndex(*plan_.desc);
  kernels_[0]->SetArgMem(at, input_->buffer);
  return kernels_[0]->SetArgs(at);
}

bool JndFilterCL::bindImportedOutput(uint8_t* dst) {
  const size_t bytes = static_cast<size_t>(height_) * static_cast<size_t>(stride_);
  outputImported_ = output_->ImportHostMemory(bytes, dst);
  if (!outputImported_ && !output_->CreateBuffer(bytes, kOutputFlags | CL_MEM_ALLOC_HOST_PTR))
    return false;
  const int at = ArgIndex(*plan_.desc, 2, JndArg::kOutputBuffer);
  kernels_[2]->SetArgMem(at, output_->buffer);
  return kernels_[2]->SetArgs(at);
}

bool JndFilterCL::setUpInput(const uint8_t* src, bool* ok) {
  const size_t plane = static_cast<size_t>(height_) * static_cast<size_t>(stride_);
  const cl_mem_flags flags = kInputFlags | (hostMapped_ ? CL_MEM_ALLOC_HOST_PTR : 0);
  if (plan_.armImport) {
    inputImported_ = input_->ImportHostMemory(plane, const_cast<uint8_t*>(src));
    if (inputImported_) {
      std::printf(kInputImported);
    } else {
      *ok = input_->CreateBuffer(plane, flags) && *ok;
      std::printf(kInputNotImported);
    }
    return true;
  }
  switch (plan_.desc->input) {
    case JndInputForm::kBuffer:
      *ok = input_->CreateBuffer(plane, flags) && *ok;
      return true;
    case JndInputForm::kTexelImage: {
      // A partial last texel is uploaded from a padded copy of the plane.
      const int texels = QualcommInputTexels(width_);
      const size_t padded = static_cast<size_t>(texels) * 4 * static_cast<size_t>(height_);
      try {
        padded_.assign(width_ % 4 != 0 ? padded : 0, 0);
      } catch (const std::bad_alloc&) {
        return false;
      }
      const uint32_t policy =
          engine_->qcomHostIocoherent ? kIonPolicyIoCoherent : kIonPolicyDefault;
      if (input_->ImportHostImage(texels, height_, CL_UNORM_INT8, CL_RGBA, CL_MEM_READ_ONLY,
                                  policy)) {
        std::printf(kIonImage);
      } else {
        std::printf(kIonImageFailed);
        *ok = input_->CreateImage(texels, height_, CL_UNORM_INT8, CL_RGBA, flags) && *ok;
      }
      return true;
    }
  }
  return true;
}

bool JndFilterCL::setUpOutput(uint8_t* dst) {
  const size_t plane = static_cast<size_t>(height_) * static_cast<size_t>(stride_);
  const cl_mem_flags flags = kOutputFlags | (hostMapped_ ? CL_MEM_ALLOC_HOST_PTR : 0);
  if (!plan_.armImport) return output_->CreateBuffer(plane, flags);
  outputImported_ = output_->ImportHostMemory(plane, dst);
  if (outputImported_) {
    std::printf(kOutputImported);
    return true;
  }
  const bool ok = output_->CreateBuffer(plane, flags);
  std::printf(kOutputNotImported);
  return ok;
}

bool JndFilterCL::intermediatesOverBuffers() const {
  return plan_.desc->writesBuffers || plan_.bufferOut;
}

void JndFilterCL::setArgument(int kernel, int index, JndArg arg) {
  opencl::ClKernel& k = *kernels_[kernel];
  const bool overBuffer = intermediatesOverBuffers();
  switch (arg) {
    case JndArg::kEnd:
      break;
    case JndArg::kInputBuffer:
      k.SetArgMem(index, input_->buffer);
      break;
    case JndArg::kInputImage:
      k.SetArgMem(index, input_->image);
      break;
    case JndArg::kInter1Image:
      k.SetArgMem(index, inter1_->image);
      break;
    case JndArg::kInter1Written:
      k.SetArgMem(index, overBuffer ? inter1_->buffer : inter1_->image);
      break;
    case JndArg::kInter2Image:
      k.SetArgMem(index, inter2_->image);
      break;
    case JndArg::kInter2Written:
      k.SetArgMem(index, overBuffer ? inter2_->buffer : inter2_->image);
      break;
    case JndArg::kOutputBuffer:
      k.SetArgMem(index, output_->buffer);
      break;
    case JndArg::kWeights:
      k.SetArgMem(index, weights_[kernel]);
      break;
    case JndArg::kWidth:
      k.SetArgInt(index, width_);
      break;
    case JndArg::kHeight:
      k.SetArgInt(index, height_);
      break;
    case JndArg::kStride:
      k.SetArgInt(index, stride_);
      break;
    case JndArg::kInter1Row:
      k.SetArgInt(index, inter1_->rowLength);
      break;
    case JndArg::kInter2Row:
      k.SetArgInt(index, inter2_->rowLength);
      break;
  }
}

bool JndFilterCL::setUpGeometry(int W, int H, int S, const uint8_t* src, uint8_t* dst) {
  ++geometry_setups_;
  releaseMemory();
  width_ = W;
  height_ = H;
  stride_ = S;
  const JndVariantDesc& v = *plan_.desc;
  const cl_channel_type inter_type = quantised_ ? CL_UNORM_INT8 : CL_HALF_FLOAT;
  bool ok = true;
  if (!setUpInput(src, &ok)) return false;

  // Intermediates: plain images, or images over buffers when a kernel
  // writes the buffer and the next one reads the image.
  const bool over_buffer = intermediatesOverBuffers();
  for (opencl::ClMemory* m : {inter1_.get(), inter2_.get()}) {
    ok = (over_buffer ? m->CreateImageOverBuffer(W, H, inter_type, CL_RGBA, kIntermediateFlags)
                      : m->CreateImage(W, H, inter_type, CL_RGBA, kIntermediateFlags)) &&
         ok;
  }
  ok = setUpOutput(dst) && ok;
  if (!ok || weights_[0] == nullptr || weights_[1] == nullptr || weights_[2] == nullptr)
    return false;

  // Arguments and global sizes, as the variant lays them out.
  const JndGlobalSizes g = GlobalSizesFor(v.variant, W, H);
  const size_t* sizes[kJndKernels] = {g.conv1, g.conv2, g.conv3};
  if (v.conv1Local[0] != 0) {
    kernels_[0]->fixedLocal[0] = v.conv1Local[0];
    kernels_[0]->fixedLocal[1] = v.conv1Local[1];
    kernels_[0]->fixedLocal[2] = 0;
  }
  for (int k = 0; k < kJndKernels; ++k) {
    for (int i = 0; i < kJndMaxArgs && v.args[k].at[i] != JndArg::kEnd; ++i)
      setArgument(k, i, v.args[k].at[i]);
    ok = kernels_[k]->SetArgs(-1) && ok;
    kernels_[k]->SetGlobalSize(sizes[k]);
  }
  for (auto& k : kernels_) k->bestTuneNs = UINT64_MAX;

  std::printf(quantised_ ? kQuantCfgCount : kCfgCount, kKernelGroupCfgRows);
  KernelCfgDevice device{engine_->vendor, engine_->deviceName, engine_->deviceVersion};
  opencl::ClKernel* const ks[3] = {kernels_[0].get(), kernels_[1].get(), kernels_[2].get()};
  const KernelGroupCfg* table = quantised_ ? kKernelGroupCfgQuant : kKernelGroupCfgFloat;
  std::printf(load_kernel_group_cfg(table, kKernelGroupCfgRows, device, ks) ? kInternalOk
                                                                           : kInternalFailed);
  std::printf(load_kernel_group_cfg(external_.data(), static_cast<int>(external_.size()), device,
                                    ks)
                  ? kExternalOk
                  : kExternalFailed);
  return ok;
}

void JndFilterCL::printConfigRow() {
  const opencl::ClKernel* const ks[3] = {kernels_[0].get(), kernels_[1].get(), kernels_[2].get()};
  const std::string row = FormatKernelGroupRow(engine_->deviceName, engine_->deviceVersion, ks);
  std::fputs(row.c_str(), stdout);
  std::fflush(stdout);
}

bool JndFilterCL::process(const uint8_t* src, uint8_t* dst, int W, int H, int S, bool finish) {
  if (!initialised_ || !resources_) {
    fail(kNotInitialised);
    return false;
  }
  if (src == nullptr || dst == nullptr || W <= 0 || H <= 0 || S < W) {
    fail(kBadFrame);
    return false;
  }
  if (!weights_whole_ && !update_net_paras(weights_set_)) {
    fail(kWeightsFailed);
    return false;
  }
  if (W != width_ || H != height_ || S != stride_) {
    if (!setUpGeometry(W, H, S, src, dst)) {
      releaseMemory();
      clearGeometry();
      fail(kGeometryFailed);
      return false;
    }
    lastSrc_ = src;
    lastDst_ = dst;
  }
  if (plan_.armImport && src != lastSrc_ && !bindImportedInput(src)) {
    fail(kGeometryFailed);
    return false;
  }

  // Upload.  The queue is in order: the kernels run after it and the
  // blocking read-back ends it.
  const size_t plane = static_cast<size_t>(H) * static_cast<size_t>(S);
  bool ok = true;
  const bool texels = plan_.desc->input == JndInputForm::kTexelImage;
  if (texels && !padded_.empty()) {
    PadRowsToTexels(src, W, H, S, padded_.data());
    ok = input_->WriteImage(padded_.data(), CL_UNORM_INT8,
                            static_cast<size_t>(QualcommInputTexels(W)) * 4, false, false);
  } else if (texels) {
    ok = input_->WriteImage(src, CL_UNORM_INT8, static_cast<size_t>(S), false, false);
  } else if (!inputImported_) {
    ok = input_->Write(src, plane, false, false);
  }
  // After any failure the queue is drained before returning, so the host
  // may reuse the plane at once; the plane itself is left as it came in.
  auto abandon = [&](const char* why) {
    clFinish(engine_->queue);
    fail(why);
    return false;
  };
  if (!ok) return abandon(kUploadFailed);

  if (tuning_) {
    for (int i = 0; i < 3; ++i) {
      std::printf(kTuningKernel, i);
      kernels_[i]->Tune();
    }
    printConfigRow();
    clFinish(engine_->queue);
    return true;
  }

  if (!kernels_[0]->Run(profiling_, true, false) || !kernels_[1]->Run(profiling_, true, false))
    return abandon(kLaunchFailed);
  if (plan_.armImport && dst != lastDst_ && !bindImportedOutput(dst))
    return abandon(kGeometryFailed);
  lastSrc_ = src;
  lastDst_ = dst;
  if (!kernels_[2]->Run(profiling_, true, false)) return abandon(kLaunchFailed);

  if (finish || outputImported_ || engine_->qcomHostIocoherent) {
    const cl_int status = clFinish(engine_->queue);
    if (status != CL_SUCCESS) {
      opencl::PrintClError(status);
      return abandon(kLaunchFailed);
    }
  }
  if (profiling_)
    for (auto& k : kernels_) k->PrintProfile();
  if (!outputImported_ && !output_->Read(dst, plane, hostMapped_, true)) return abandon(kReadFailed);
  return true;
}

}  // namespace jnd
