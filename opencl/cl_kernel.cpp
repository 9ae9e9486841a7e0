#include "opencl/cl_kernel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <sstream>

#include "opencl/cl_dispatch.h"
#include "opencl/cl_error.h"

namespace opencl {

const char* const kImageCopyToBufferName = "img_copy_to_buf";

namespace {
constexpr const char* kLogNoKernel = "Can not find kernel %s\n";
constexpr const char* kLogWorkGroupSize = " kernel work group size:";
constexpr const char* kProfileSubQue = " SUB-QUE  ";
constexpr const char* kProfileStaSub = " STA-SUB  ";
constexpr const char* kProfileEndSta = " END-STA  ";
constexpr const char* kProfileUnit = "ms";
constexpr int kProfileLabelWidth = 80;
constexpr int kProfileNumberWidth = 12;

// Events are released through the table directly: the library's own
// OpenCL functions cover only the calls the rest of the code makes.
void ReleaseEvent(cl_event e) {
  const ClDispatchTable& table = ProcessClTable();
  if (e != nullptr && table.clReleaseEvent != nullptr) table.clReleaseEvent(e);
}

size_t RoundUp(size_t value, size_t step) {
  if (step == 0) return value;
  return (value + step - 1) / step * step;
}

// Divisors of n not above limit, ascending.
std::vector<size_t> DivisorsUpTo(size_t n, size_t limit) {
  std::vector<size_t> out;
  for (size_t d = 1; d <= n && d <= limit; ++d) {
    if (n % d == 0) out.push_back(d);
  }
  return out;
}
}  // namespace

size_t KernelArgSize(int kind) {
  switch (kind) {
    case ClKernelArg::kShort: return 2;
    case ClKernelArg::kInt: return 4;
    case ClKernelArg::kFloat: return 4;
    case ClKernelArg::kMem: return 8;
    default: return 0;
  }
}

size_t LargestDivisorAtMost(size_t n, size_t limit) {
  if (n == 0) return 1;
  for (size_t d = std::min(n, limit); d > 1; --d) {
    if (n % d == 0) return d;
  }
  return 1;
}

std::string FormatProfileLine(const std::string& label, const std::string& detail,
                              uint64_t queuedNs, uint64_t submitNs, uint64_t startNs,
                              uint64_t endNs) {
  std::ostringstream out;
  auto number = [&out](uint64_t ns) {
    const std::ios::fmtflags saved = out.flags();
    out << std::left << std::setw(kProfileNumberWidth) << static_cast<double>(ns) / 1000000.0;
    out.flags(saved);
    out << kProfileUnit;
  };
  const std::ios::fmtflags saved = out.flags();
  out << std::left << std::setw(kProfileLabelWidth) << (label + ":" + detail);
  out.flags(saved);
  out << kProfileSubQue;
  number(submitNs - queuedNs);
  out << kProfileStaSub;
  number(startNs - submitNs);
  out << kProfileEndSta;
  number(endNs - startNs);
  out << '\n';
  return out.str();
}

ClKernel::~ClKernel() { DropEvent(); }

void ClKernel::DropEvent() {
  if (event != nullptr) {
    ReleaseEvent(event);
    event = nullptr;
  }
}

bool ClKernel::IsImageCopy() const { return kernelName == kImageCopyToBufferName; }

bool ClKernel::Init(clEngine* eng, const std::string& name, const std::string& stepLabel,
                    bool create) {
  kernelName = name;
  label = stepLabel;
  engine = eng;
  if (IsImageCopy()) return true;
  kernel = engine->GetKernel(kernelName, create, true);
  if (kernel == nullptr) {
    std::printf(kLogNoKernel, kernelName.c_str());
    return false;
  }
  size_t wgs = 0;
  const cl_int status = clGetKernelWorkGroupInfo(kernel, engine->device, CL_KERNEL_WORK_GROUP_SIZE,
                                                 sizeof wgs, &wgs, nullptr);
  PrintClError(status);
  kernelWorkGroupSize = status == CL_SUCCESS ? wgs : 0;
  std::ostringstream line;
  line << kernelName << kLogWorkGroupSize << kernelWorkGroupSize << '\n';
  std::fputs(line.str().c_str(), stdout);
  std::memcpy(maxItems, engine->maxWorkItemSizes, sizeof maxItems);
  return true;
}

ClKernelArg& ClKernel::Slot(int index) {
  if (static_cast<size_t>(index) >= args.size()) args.resize(static_cast<size_t>(index) + 1);
  return args[static_cast<size_t>(index)];
}

bool ClKernel::SetArgShort(int index, int16_t value) {
  ClKernelArg& a = Slot(index);
  std::memset(a.value, 0, sizeof a.value);
  std::memcpy(a.value, &value, sizeof value);
  a.kind = ClKernelArg::kShort;
  return true;
}

bool ClKernel::SetArgInt(int index, int32_t value) {
  ClKernelArg& a = Slot(index);
  std::memset(a.value, 0, sizeof a.value);
  std::memcpy(a.value, &value, sizeof value);
  a.kind = ClKernelArg::kInt;
  return true;
}

bool ClKernel::SetArgFloat(int index, float value) {
  ClKernelArg& a = Slot(index);
  std::memset(a.value, 0, sizeof a.value);
  std::memcpy(a.value, &value, sizeof value);
  a.kind = ClKernelArg::kFloat;
  return true;
}

bool ClKernel::SetArgMem(int index, cl_mem value) {
  ClKernelArg& a = Slot(index);
  std::memset(a.value, 0, sizeof a.value);
  std::memcpy(a.value, &value, sizeof value);
  a.kind = ClKernelArg::kMem;
  return true;
}

bool ClKernel::SetArgs(int index) {
  size_t first = 0, last = args.size();
  if (index >= 0) {
    if (static_cast<size_t>(index) >= args.size()) return false;
    first = static_cast<size_t>(index);
    last = first + 1;
  }
  bool ok = true;
  for (size_t i = first; i < last; ++i) {
    const size_t size = KernelArgSize(args[i].kind);
    if (size == 0) return false;
    const cl_int status = clSetKernelArg(kernel, static_cast<cl_uint>(i), size, args[i].value);
    if (status != CL_SUCCESS) {
      PrintClError(status);
      ok = false;
    }
  }
  return ok;
}

void ClKernel::SetGlobalSize(size_t x, size_t y, size_t z) {
  global[0] = x;
  global[1] = y;
  global[2] = z;
  if (localLocked) return;
  size_t budget = std::min(kernelWorkGroupSize, x * y * z);
  for (int d = 0; d < 3; ++d) {
    if (fixedLocal[d] != 0) {
      local[d] = fixedLocal[d];
    } else {
      const size_t start = std::min(std::min(budget, maxItems[d]), global[d]);
      local[d] = start == 0 ? 1 : LargestDivisorAtMost(global[d], start);
    }
    if (d < 2) budget = budget / local[d];
  }
}

void ClKernel::SetLocalSize(const size_t wish[3]) {
  if (global[0] == 1 && global[1] == 1 && global[2] == 1) {
    std::memcpy(local, wish, sizeof local);
    localLocked = true;
    return;
  }
  for (int d = 0; d < 3; ++d) {
    if (wish[d] != 0) local[d] = LargestDivisorAtMost(global[d], wish[d]);
  }
  for (int d = 0; d < 3; ++d) {
    if (fixedLocal[d] != 0) local[d] = fixedLocal[d];
  }
}

bool ClKernel::Enqueue(const size_t* localSize, cl_uint dims, const size_t* roundedGlobal,
                       const std::vector<cl_event>& waitEvents, cl_event* outEvent) {
  const cl_uint waitCount = static_cast<cl_uint>(waitEvents.size());
  const cl_event* waitList = waitEvents.empty() ? nullptr : waitEvents.data();
  cl_int status;
  if (IsImageCopy()) {
    cl_mem image = nullptr, buffer = nullptr;
    int32_t w = 0, h = 0;
    if (args.size() > 0) std::memcpy(&image, args[0].value, sizeof image);
    if (args.size() > 1) std::memcpy(&buffer, args[1].value, sizeof buffer);
    if (args.size() > 2) std::memcpy(&w, args[2].value, sizeof w);
    if (args.size() > 3) std::memcpy(&h, args[3].value, sizeof h);
    const size_t origin[3] = {0, 0, 0};
    const size_t region[3] = {static_cast<size_t>(w), static_cast<size_t>(h), 1};
    status = clEnqueueCopyImageToBuffer(engine->queue, image, buffer, origin, region, 0, waitCount,
                                        waitList, outEvent);
  } else {
    status = clEnqueueNDRangeKernel(engine->queue, kernel, dims, nullptr, roundedGlobal, localSize,
                                    waitCount, waitList, outEvent);
  }
  PrintClError(status);
  return status == CL_SUCCESS;
}

bool ClKernel::Run(bool profile, bool flush, bool finish, std::vector<cl_event> waitEvents) {
  size_t rounded[3];
  for (int d = 0; d < 3; ++d) rounded[d] = RoundUp(global[d], local[d]);
  const bool wantEvent = profile || (engine != nullptr && engine->outOfOrder);
  if (wantEvent) DropEvent();
  const cl_uint dims = rounded[2] == 1 ? 2 : 3;
  if (!Enqueue(local, dims, rounded, waitEvents, wantEvent ? &event : nullptr)) return false;

  bool ok = true;
  auto check = [&ok](cl_int status) {
    PrintClError(status);
    if (status != CL_SUCCESS) ok = false;
    return status == CL_SUCCESS;
  };
  if (flush) check(clFlush(engine->queue));
  if (finish) check(clFinish(engine->queue));
  if (profile && event != nullptr && check(clWaitForEvents(1, &event))) {
    const cl_profiling_info params[4] = {CL_PROFILING_COMMAND_QUEUED, CL_PROFILING_COMMAND_SUBMIT,
                                         CL_PROFILING_COMMAND_START, CL_PROFILING_COMMAND_END};
    uint64_t* fields[4] = {&queuedNs, &submitNs, &startNs, &endNs};
    for (int i = 0; i < 4; ++i) {
      cl_ulong value = 0;
      if (check(clGetEventProfilingInfo(event, params[i], sizeof value, &value, nullptr))) {
        *fields[i] = value;
      }
    }
  }
  return ok;
}

bool ClKernel::Tune() {
  if (IsImageCopy()) return false;
  const size_t budget = std::min(kernelWorkGroupSize, global[0] * global[1] * global[2]);
  const size_t multiple = tuneMultiple == 0 ? 1 : tuneMultiple;
  // Only divisors of the global size can be candidates; walking every
  // size up to the device limits would take ages on large limits.
  const std::vector<size_t> zs = DivisorsUpTo(global[2], maxItems[2]);
  const std::vector<size_t> ys = DivisorsUpTo(global[1], maxItems[1]);
  const std::vector<size_t> xs = DivisorsUpTo(global[0], maxItems[0]);
  const std::vector<cl_event> noWait;
  for (size_t i : zs) {
    if (fixedLocal[2] != 0 && fixedLocal[2] != i) continue;
    for (size_t j : ys) {
      if (fixedLocal[1] != 0 && fixedLocal[1] != j) continue;
      for (size_t k : xs) {
        if (fixedLocal[0] != 0 && fixedLocal[0] != k) continue;
        const size_t items = k * j * i;
        if (items > budget || items % multiple != 0) continue;
        const size_t candidate[3] = {k, j, i};
        size_t rounded[3];
        for (int d = 0; d < 3; ++d) rounded[d] = RoundUp(global[d], candidate[d]);
        cl_event ev = nullptr;
        if (!Enqueue(candidate, 3, rounded, noWait, &ev)) continue;
        const cl_int flushStatus = clFlush(engine->queue);
        PrintClError(flushStatus);
        cl_ulong start = 0, end = 0;
        cl_int status = clWaitForEvents(1, &ev);
        if (status == CL_SUCCESS) {
          status = clGetEventProfilingInfo(ev, CL_PROFILING_COMMAND_START, sizeof start, &start,
                                           nullptr);
        }
        if (status == CL_SUCCESS) {
          status = clGetEventProfilingInfo(ev, CL_PROFILING_COMMAND_END, sizeof end, &end,
                                           nullptr);
        }
        PrintClError(status);
        ReleaseEvent(ev);
        // A candidate whose timestamps cannot be read is not comparable.
        if (status != CL_SUCCESS || end < start) continue;
        if (end - start < bestTuneNs) {
          bestTuneNs = end - start;
          std::memcpy(local, candidate, sizeof local);
        }
      }
    }
  }
  return true;
}

std::string ClKernel::ProfileLine() const {
  return FormatProfileLine(label, detail, queuedNs, submitNs, startNs, endNs);
}

void ClKernel::PrintProfile() const { std::fputs(ProfileLine().c_str(), stdout); }

}  // namespace opencl
