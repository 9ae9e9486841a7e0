#include "opencl/cl_engine.h"

#include <cstdio>
#include <cstring>

#include "opencl/cl_dispatch.h"
#include "opencl/cl_error.h"
#include "opencl/scoped_cost.h"

namespace opencl {

const char* const kErrNotAllFunctions = "Not all needed cl functions found!";
const char* const kErrNoPlatforms = "No available platforms found!";
const char* const kErrGetPlatformId = "Get platformID error!";
const char* const kErrGetPlatformInfo = "Get platformInfo error!";
const char* const kErrNoDevice = "Can not detect OpenCL platform!";
const char* const kErrCreateContext = "Create Context error";
const char* const kErrCreateQueue = "Create Command Queue error";

const int kDefaultVendorOrder[7] = {kVendorNvidia,    kVendorIntelGpu,      kVendorAmdGpu, kVendorQualcomm,
                                    kVendorArm,       kVendorImagination,   kVendorApple};
const char* const kFp16DenyList[2] = {"Baffin", "gfx902"};
const char* const kFixedSubgroupList[2] = {"Mali-G52", "Mali-G76"};

namespace {

const ClVendorInfo kVendors[kVendorCount] = {
    {"UNKONW", "UNKONW", CL_DEVICE_TYPE_DEFAULT},
    {"NVIDIA", "NVIDIA", CL_DEVICE_TYPE_GPU},
    {"ADVANCED MICRO DEVICES", "AMD", CL_DEVICE_TYPE_GPU},
    {"ARM", "ARM", CL_DEVICE_TYPE_GPU},
    {"ADVANCED MICRO DEVICES", "AMD", CL_DEVICE_TYPE_CPU},
    {"INTEL", "INTEL", CL_DEVICE_TYPE_CPU},
    {"INTEL", "INTEL", CL_DEVICE_TYPE_GPU},
    {"QUALCOMM", "QUALCOMM", CL_DEVICE_TYPE_GPU},
    {"IMAGINATION", "IMAGINATION", CL_DEVICE_TYPE_GPU},
    {"APPLE", "APPLE", CL_DEVICE_TYPE_GPU},
};

// Printed lines of Init.
constexpr const char* kLogNotAllFunctions = "Not all needed cl functions found! \n";
constexpr const char* kLogPlatformVendor = "Platform vendor: %s\n";
constexpr const char* kLogDeviceVendor = "Device Vendor:%s\n";
constexpr const char* kLogPreferred = "Find prefered device:%s\n";
constexpr const char* kLogNotPreferred = " Not prefered device, continuing......\n";
constexpr const char* kLogCl2Yes = "Device Support OpenCL 2.0 or obove !\n";
constexpr const char* kLogCl2No = "Device Not Support OpenCL 2.0 or obove !\n";
constexpr const char* kLogSvmBufferYes = "Device Support SVM_FINE_GRAIN_BUFFER !\n";
constexpr const char* kLogSvmBufferNo = "Device Not Support SVM_FINE_GRAIN_BUFFER !\n";
constexpr const char* kLogSvmSystemYes = "Device Support SVM_FINE_GRAIN_SYSTEM !\n";
constexpr const char* kLogSvmSystemNo = "Device Not Support SVM_FINE_GRAIN_SYSTEM !\n";
constexpr const char* kLogFp16Yes = "Device Support fp16 !\n";
constexpr const char* kLogFp16No = "Device Not Support fp16 !\n";
constexpr const char* kLogFp16Denied = "Device Name is in fp16 Unsupported List, not Support fp16 !\n";
constexpr const char* kLogImageFromBufferYes = "Device Support Image from Buffer !\n";
constexpr const char* kLogImageFromBufferNo = "Device Not Support Image from Buffer !\n";
constexpr const char* kLogQcomYes = "Device Support QCOM ext host iocoherent !\n";
constexpr const char* kLogQcomNo = "Device Not Support QCOM ext host iocoherent !\n";
constexpr const char* kLogArmImportYes = "Device Support ARM import memroy Host !\n";
constexpr const char* kLogArmImportNo = "Device Not Support ARM import memroy Host !\n";
constexpr const char* kLogSubgroupsYes = "Device Support KHR subgroup !\n";
constexpr const char* kLogSubgroupsNo = "Device Not Support KHR subgroup !\n";
constexpr const char* kLogCacheLine = "Cache line size:%d\n";
constexpr const char* kLogPitch = "Pitch alignment: %d pixels\n";
constexpr const char* kLogDeviceName = "Device Name:%s\n";
constexpr const char* kLogDeviceVersion = "Device Version:%s\n";
constexpr const char* kLogImageFormats = "CL Image supported: %d\n";
constexpr const char* kLogRgbaSnorm = "Device Support RGBA-SNORM_INT8 !\n";
constexpr const char* kLogFixedSubgroup = "Fixed Subgroup Size:%d\n";

constexpr const char* kCostPlatformCount = "--clGetPlatformIDs 0";
constexpr const char* kCostPlatformIds = "--clGetPlatformIDs 1";
constexpr const char* kCostDetect = "--Detect platforms and devices";
constexpr const char* kCostContext = "--clCreateContext";

constexpr const char* kExtFp16 = "cl_khr_fp16";
constexpr const char* kExtImageFromBuffer = "cl_khr_image2d_from_buffer";
constexpr const char* kExtQcomIocoherent = "cl_qcom_ext_host_ptr_iocoherent";
constexpr const char* kExtArmImportHost = "cl_arm_import_memory_host";
constexpr const char* kExtSubgroups = "cl_khr_subgroups";
constexpr const char* kOpenCl2Marker = "OpenCL 2.";

constexpr const char* kOptClStd20 = " -cl-std=CL2.0";
constexpr const char* kOptHalf = " -DHALF_FP";
constexpr const char* kOptQualcomm = " -DQUALCOMM";

// Context properties of the Arm printf extension.
constexpr cl_context_properties kArmPrintfCallback = 0x40B0;
constexpr cl_context_properties kArmPrintfBufferSize = 0x40B1;
constexpr cl_context_properties kArmPrintfBufferBytes = 4096;

constexpr size_t kNameBufferBytes = 256;

#define OX_INFO_ROW(param, kind) {param, #param, kind}
struct InfoRowDef {
  uint32_t param;
  const char* name;
  int kind;
};
const InfoRowDef kInfoRows[kDeviceInfoRows] = {
    OX_INFO_ROW(CL_DEVICE_PROFILE, 5),
    OX_INFO_ROW(CL_DEVICE_VERSION, 5),
    OX_INFO_ROW(CL_DEVICE_NAME, 5),
    OX_INFO_ROW(CL_DEVICE_VENDOR, 5),
    OX_INFO_ROW(CL_DRIVER_VERSION, 5),
    OX_INFO_ROW(CL_DEVICE_PLATFORM, 3),
    OX_INFO_ROW(CL_DEVICE_TYPE, 3),
    OX_INFO_ROW(CL_DEVICE_OPENCL_C_VERSION, 5),
    OX_INFO_ROW(CL_DEVICE_VENDOR_ID, 0),
    OX_INFO_ROW(CL_DEVICE_MAX_COMPUTE_UNITS, 0),
    OX_INFO_ROW(CL_DEVICE_MAX_WORK_ITEM_DIMENSIONS, 0),
    OX_INFO_ROW(CL_DEVICE_MAX_WORK_GROUP_SIZE, 1),
    OX_INFO_ROW(CL_DEVICE_MAX_WORK_ITEM_SIZES, 2),
    OX_INFO_ROW(CL_DEVICE_PREFERRED_VECTOR_WIDTH_HALF, 0),
    OX_INFO_ROW(CL_DEVICE_PREFERRED_VECTOR_WIDTH_CHAR, 0),
    OX_INFO_ROW(CL_DEVICE_PREFERRED_VECTOR_WIDTH_SHORT, 0),
    OX_INFO_ROW(CL_DEVICE_PREFERRED_VECTOR_WIDTH_INT, 0),
    OX_INFO_ROW(CL_DEVICE_PREFERRED_VECTOR_WIDTH_LONG, 0),
    OX_INFO_ROW(CL_DEVICE_PREFERRED_VECTOR_WIDTH_FLOAT, 0),
    OX_INFO_ROW(CL_DEVICE_PREFERRED_VECTOR_WIDTH_DOUBLE, 0),
    OX_INFO_ROW(CL_DEVICE_MAX_CLOCK_FREQUENCY, 0),
    OX_INFO_ROW(CL_DEVICE_ADDRESS_BITS, 0),
    OX_INFO_ROW(CL_DEVICE_MAX_READ_IMAGE_ARGS, 0),
    OX_INFO_ROW(CL_DEVICE_MAX_WRITE_IMAGE_ARGS, 0),
    OX_INFO_ROW(CL_DEVICE_MAX_MEM_ALLOC_SIZE, 3),
    OX_INFO_ROW(CL_DEVICE_IMAGE2D_MAX_WIDTH, 1),
    OX_INFO_ROW(CL_DEVICE_IMAGE2D_MAX_HEIGHT, 1),
    OX_INFO_ROW(CL_DEVICE_IMAGE3D_MAX_DEPTH, 1),
    OX_INFO_ROW(CL_DEVICE_IMAGE_SUPPORT, 4),
    OX_INFO_ROW(CL_DEVICE_MAX_PARAMETER_SIZE, 1),
    OX_INFO_ROW(CL_DEVICE_MAX_SAMPLERS, 0),
    OX_INFO_ROW(CL_DEVICE_MEM_BASE_ADDR_ALIGN, 0),
    OX_INFO_ROW(CL_DEVICE_MIN_DATA_TYPE_ALIGN_SIZE, 0),
    OX_INFO_ROW(CL_DEVICE_SINGLE_FP_CONFIG, 3),
    OX_INFO_ROW(CL_DEVICE_GLOBAL_MEM_CACHE_TYPE, 3),
    OX_INFO_ROW(CL_DEVICE_GLOBAL_MEM_CACHELINE_SIZE, 0),
    OX_INFO_ROW(CL_DEVICE_GLOBAL_MEM_CACHE_SIZE, 3),
    OX_INFO_ROW(CL_DEVICE_GLOBAL_MEM_SIZE, 3),
    OX_INFO_ROW(CL_DEVICE_MAX_CONSTANT_BUFFER_SIZE, 3),
    OX_INFO_ROW(CL_DEVICE_MAX_CONSTANT_ARGS, 0),
    OX_INFO_ROW(CL_DEVICE_LOCAL_MEM_TYPE, 3),
    OX_INFO_ROW(CL_DEVICE_LOCAL_MEM_SIZE, 3),
    OX_INFO_ROW(CL_DEVICE_ERROR_CORRECTION_SUPPORT, 4),
    OX_INFO_ROW(CL_DEVICE_PROFILING_TIMER_RESOLUTION, 1),
    OX_INFO_ROW(CL_DEVICE_ENDIAN_LITTLE, 4),
    OX_INFO_ROW(CL_DEVICE_AVAILABLE, 4),
    OX_INFO_ROW(CL_DEVICE_COMPILER_AVAILABLE, 4),
    OX_INFO_ROW(CL_DEVICE_EXECUTION_CAPABILITIES, 3),
    OX_INFO_ROW(CL_DEVICE_QUEUE_PROPERTIES, 3),
    OX_INFO_ROW(CL_DEVICE_HOST_UNIFIED_MEMORY, 4),
    OX_INFO_ROW(CL_DEVICE_NATIVE_VECTOR_WIDTH_CHAR, 0),
    OX_INFO_ROW(CL_DEVICE_NATIVE_VECTOR_WIDTH_SHORT, 0),
    OX_INFO_ROW(CL_DEVICE_NATIVE_VECTOR_WIDTH_INT, 0),
    OX_INFO_ROW(CL_DEVICE_NATIVE_VECTOR_WIDTH_LONG, 0),
    OX_INFO_ROW(CL_DEVICE_NATIVE_VECTOR_WIDTH_FLOAT, 0),
    OX_INFO_ROW(CL_DEVICE_NATIVE_VECTOR_WIDTH_DOUBLE, 0),
    OX_INFO_ROW(CL_DEVICE_NATIVE_VECTOR_WIDTH_HALF, 0),
    OX_INFO_ROW(CL_DEVICE_EXTENSIONS, 5),
};
#undef OX_INFO_ROW

// Built at library load, like the other static tables.
struct DeviceInfoTableHolder {
  ClDeviceInfoEntry rows[kDeviceInfoRows];
  DeviceInfoTableHolder() {
    std::memset(rows, 0, sizeof rows);
    for (int i = 0; i < kDeviceInfoRows; ++i) {
      rows[i].param = kInfoRows[i].param;
      std::snprintf(rows[i].name, sizeof rows[i].name, "%s", kInfoRows[i].name);
      rows[i].kind = kInfoRows[i].kind;
    }
  }
};
DeviceInfoTableHolder g_deviceInfo;

void CL_CALLBACK ArmPrintfCallback(const char* buffer, size_t length, size_t /*final*/,
                                   void* /*user*/) {
  // The buffer is not promised to end in NUL; print exactly what came.
  if (buffer != nullptr) std::printf("%.*s", static_cast<int>(length), buffer);
}

bool Contains(const std::string& haystack, const char* needle) {
  return haystack.find(needle) != std::string::npos;
}

}  // namespace

const ClVendorInfo& VendorInfo(int code) {
  if (code < 0 || code >= kVendorCount) return kVendors[0];
  return kVendors[code];
}

size_t DeviceInfoQuerySize(int kind) {
  switch (kind) {
    case 0: return 4;
    case 1: return 8;
    case 2: return 24;
    case 3: return 8;
    case 4: return 4;
    case 5: return 2048;
    default: return 0;
  }
}

ClDeviceInfoEntry* ClDeviceInfoTable() { return g_deviceInfo.rows; }

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool DeviceVendorMatches(const std::string& upperVendor, int code) {
  const ClVendorInfo& v = VendorInfo(code);
  return Contains(upperVendor, v.name) || Contains(upperVendor, v.altName);
}

bool Fp16Denied(const std::string& deviceName) {
  for (const char* entry : kFp16DenyList) {
    if (Contains(deviceName, entry)) return true;
  }
  return false;
}

int FixedSubgroupSizeFor(const std::string& deviceName) {
  for (const char* entry : kFixedSubgroupList) {
    if (Contains(deviceName, entry)) return 8;
  }
  return 0;
}

std::string MakeBuildOptions(bool openCL2, bool fp16, int vendor) {
  std::string options;
  if (openCL2) options += kOptClStd20;
  if (fp16) options += kOptHalf;
  if (vendor == kVendorQualcomm) options += kOptQualcomm;
  return options;
}

std::string QueryPlatformText(cl_platform_id platform, cl_platform_info param, size_t bufSize) {
  std::vector<char> buf(bufSize + 1, '\0');
  if (clGetPlatformInfo(platform, param, bufSize, buf.data(), nullptr) != CL_SUCCESS) return {};
  return std::string(buf.data());
}

std::string QueryDeviceText(cl_device_id device, cl_device_info param, size_t bufSize) {
  std::vector<char> buf(bufSize + 1, '\0');
  if (clGetDeviceInfo(device, param, bufSize, buf.data(), nullptr) != CL_SUCCESS) return {};
  return std::string(buf.data());
}

std::string QueryKernelName(cl_kernel kernel) {
  char name[kNameBufferBytes + 1];
  std::memset(name, 0, sizeof name);
  if (clGetKernelInfo(kernel, CL_KERNEL_FUNCTION_NAME, kNameBufferBytes, name, nullptr) !=
      CL_SUCCESS) {
    return {};
  }
  return std::string(name);
}

clEngine::~clEngine() { Release(); }

bool clEngine::Init(int vendorCode, bool profiling, bool outOfOrderQueue) {
  if (!ProcessClTable().allRequiredFound) {
    lastError = kErrNotAllFunctions;
    std::fputs(kLogNotAllFunctions, stdout);
    return false;
  }
  initialized = false;
  vendor = vendorCode;

  cl_uint platformCount = 0;
  {
    ScopedCost cost(kCostPlatformCount);
    const cl_int status = clGetPlatformIDs(0, nullptr, &platformCount);
    if (status != CL_SUCCESS || platformCount == 0) {
      lastError = kErrNoPlatforms;
      return false;
    }
  }
  if (platformCount > static_cast<cl_uint>(kMaxPlatforms)) platformCount = kMaxPlatforms;

  std::vector<cl_platform_id> platforms(platformCount, nullptr);
  {
    ScopedCost cost(kCostPlatformIds);
    cl_uint returned = 0;
    const cl_int status = clGetPlatformIDs(platformCount, platforms.data(), &returned);
    if (status != CL_SUCCESS || returned == 0) {
      lastError = kErrGetPlatformId;
      return false;
    }
    // The count answers how many exist, not how many were written.
    if (returned < platformCount) platforms.resize(returned);
  }

  std::vector<int> order;
  cl_device_type type = CL_DEVICE_TYPE_GPU;
  if (vendor != 0) {
    order.push_back(vendor);
    type = VendorInfo(vendor).deviceType;
  } else {
    order.assign(std::begin(kDefaultVendorOrder), std::end(kDefaultVendorOrder));
  }
  platform = nullptr;
  device = nullptr;

  if (!ChooseDevice(platforms, order, type)) return false;

  ProbeDevice();

  {
    ScopedCost cost(kCostContext);
    cl_int status = CL_SUCCESS;
    if (vendor == kVendorArm) {
      const cl_context_properties props[] = {
          CL_CONTEXT_PLATFORM, reinterpret_cast<cl_context_properties>(platform),
          kArmPrintfCallback,  reinterpret_cast<cl_context_properties>(&ArmPrintfCallback),
          kArmPrintfBufferSize, kArmPrintfBufferBytes,
          0};
      context = clCreateContext(props, 1, &device, nullptr, nullptr, &status);
      PrintClError(status);
    } else {
      const cl_context_properties props[] = {
          CL_CONTEXT_PLATFORM, reinterpret_cast<cl_context_properties>(platform), 0};
      context = clCreateContext(props, 1, &device, nullptr, nullptr, &status);
    }
    if (context == nullptr) {
      lastError = kErrCreateContext;
      return false;
    }
  }

  cl_uint formatCount = 0;
  if (clGetSupportedImageFormats(context, CL_MEM_READ_WRITE, CL_MEM_OBJECT_IMAGE2D, 0, nullptr,
                                 &formatCount) != CL_SUCCESS) {
    formatCount = 0;
  }
  std::vector<cl_image_format> formats(formatCount);
  if (formatCount > 0 &&
      clGetSupportedImageFormats(context, CL_MEM_READ_WRITE, CL_MEM_OBJECT_IMAGE2D, formatCount,
                                 formats.data(), nullptr) != CL_SUCCESS) {
    formats.clear();
  }
  std::printf(kLogImageFormats, static_cast<int>(formatCount));
  for (const cl_image_format& f : formats) {
    if (f.image_channel_order == CL_RGBA && f.image_channel_data_type == CL_SNORM_INT8) {
      rgbaSnormInt8 = true;
      std::fputs(kLogRgbaSnorm, stdout);
      break;
    }
  }

  outOfOrder = outOfOrderQueue;
  cl_command_queue_properties queueProps = 0;
  if (profiling) queueProps |= CL_QUEUE_PROFILING_ENABLE;
  if (outOfOrderQueue) queueProps |= CL_QUEUE_OUT_OF_ORDER_EXEC_MODE_ENABLE;
  cl_int queueStatus = CL_SUCCESS;
  queue = clCreateCommandQueue(context, device, queueProps, &queueStatus);
  if (queue == nullptr) {
    lastError = kErrCreateQueue;
    return false;
  }

  buildOptions = MakeBuildOptions(openCL2, fp16, vendor);
  if (vendor == kVendorQualcomm) hostAllocator.device = device;

  fixedSubgroupSize = FixedSubgroupSizeFor(deviceName);
  std::printf(kLogFixedSubgroup, fixedSubgroupSize);

  initialized = true;
  return true;
}

bool clEngine::ChooseDevice(const std::vector<cl_platform_id>& platforms,
                            const std::vector<int>& order, cl_device_type type) {
  std::vector<cl_device_id> devices;
  std::vector<std::string> vendors;
  {
    ScopedCost cost(kCostDetect);
    for (cl_platform_id p : platforms) {
      if (devices.size() >= static_cast<size_t>(kMaxDevices)) break;
      char vendorText[kNameBufferBytes + 1];
      std::memset(vendorText, 0, sizeof vendorText);
      if (clGetPlatformInfo(p, CL_PLATFORM_VENDOR, kNameBufferBytes, vendorText, nullptr) !=
          CL_SUCCESS) {
        lastError = kErrGetPlatformInfo;
        return false;
      }
      std::printf(kLogPlatformVendor, vendorText);

      const cl_uint room = static_cast<cl_uint>(kMaxDevices - devices.size());
      std::vector<cl_device_id> found(room, nullptr);
      cl_uint count = 0;
      if (clGetDeviceIDs(p, type, room, found.data(), &count) != CL_SUCCESS) continue;
      if (count > room) count = room;
      for (cl_uint i = 0; i < count; ++i) {
        const std::string text =
            AsciiUpper(QueryDeviceText(found[i], CL_DEVICE_VENDOR, kNameBufferBytes));
        std::printf(kLogDeviceVendor, text.c_str());
        devices.push_back(found[i]);
        vendors.push_back(text);
      }
    }
  }

  for (int code : order) {
    for (size_t i = 0; i < devices.size(); ++i) {
      if (DeviceVendorMatches(vendors[i], code)) {
        std::printf(kLogPreferred, vendors[i].c_str());
        device = devices[i];
        cl_platform_id owner = nullptr;
        if (clGetDeviceInfo(device, CL_DEVICE_PLATFORM, sizeof owner, &owner, nullptr) ==
            CL_SUCCESS) {
          platform = owner;
        }
        break;
      }
      std::fputs(kLogNotPreferred, stdout);
    }
    if (device != nullptr && platform != nullptr) {
      vendor = code;
      return true;
    }
  }
  lastError = kErrNoDevice;
  return false;
}

void clEngine::ProbeDevice() {
  size_t sizes[3] = {0, 0, 0};
  if (clGetDeviceInfo(device, CL_DEVICE_MAX_WORK_ITEM_SIZES, sizeof sizes, sizes, nullptr) ==
      CL_SUCCESS) {
    std::memcpy(maxWorkItemSizes, sizes, sizeof sizes);
  }
  deviceName = QueryDeviceText(device, CL_DEVICE_NAME, kNameBufferBytes);
  deviceVersion = QueryDeviceText(device, CL_DEVICE_VERSION, kNameBufferBytes);

  openCL2 = Contains(deviceVersion, kOpenCl2Marker);
  std::fputs(openCL2 ? kLogCl2Yes : kLogCl2No, stdout);
  if (openCL2) {
    cl_device_svm_capabilities svm = 0;
    if (clGetDeviceInfo(device, CL_DEVICE_SVM_CAPABILITIES, sizeof svm, &svm, nullptr) !=
        CL_SUCCESS) {
      svm = 0;
    }
    svmFineGrainBuffer = (svm & CL_DEVICE_SVM_FINE_GRAIN_BUFFER) != 0;
    std::fputs(svmFineGrainBuffer ? kLogSvmBufferYes : kLogSvmBufferNo, stdout);
    std::fputs((svm & CL_DEVICE_SVM_FINE_GRAIN_SYSTEM) != 0 ? kLogSvmSystemYes : kLogSvmSystemNo,
               stdout);
  }

  std::string extensions;
  size_t extSize = 0;
  if (clGetDeviceInfo(device, CL_DEVICE_EXTENSIONS, 0, nullptr, &extSize) == CL_SUCCESS &&
      extSize > 0) {
    extensions = QueryDeviceText(device, CL_DEVICE_EXTENSIONS, extSize);
  }

  fp16 = Contains(extensions, kExtFp16);
  std::fputs(fp16 ? kLogFp16Yes : kLogFp16No, stdout);
  for (const char* entry : kFp16DenyList) {
    if (Contains(deviceName, entry)) {
      fp16 = false;
      std::fputs(kLogFp16Denied, stdout);
    }
  }
  imageFromBuffer = Contains(extensions, kExtImageFromBuffer) || openCL2;
  std::fputs(imageFromBuffer ? kLogImageFromBufferYes : kLogImageFromBufferNo, stdout);
  qcomHostIocoherent = Contains(extensions, kExtQcomIocoherent);
  std::fputs(qcomHostIocoherent ? kLogQcomYes : kLogQcomNo, stdout);
  armImportHost = Contains(extensions, kExtArmImportHost);
  std::fputs(armImportHost ? kLogArmImportYes : kLogArmImportNo, stdout);
  khrSubgroups = Contains(extensions, kExtSubgroups);
  std::fputs(khrSubgroups ? kLogSubgroupsYes : kLogSubgroupsNo, stdout);

  cl_uint cacheLine = 0;
  if (clGetDeviceInfo(device, CL_DEVICE_GLOBAL_MEM_CACHELINE_SIZE, sizeof cacheLine, &cacheLine,
                      nullptr) == CL_SUCCESS) {
    cacheLineSize = cacheLine;
  }
  std::printf(kLogCacheLine, static_cast<int>(cacheLineSize));
  cl_uint pitch = 0;
  if (clGetDeviceInfo(device, CL_DEVICE_IMAGE_PITCH_ALIGNMENT, sizeof pitch, &pitch, nullptr) ==
      CL_SUCCESS) {
    pitchAlignment = pitch;
  }
  std::printf(kLogPitch, static_cast<int>(pitchAlignment));
  std::printf(kLogDeviceName, deviceName.c_str());
  std::printf(kLogDeviceVersion, deviceVersion.c_str());

  for (int i = 0; i < kDeviceInfoRows; ++i) {
    ClDeviceInfoEntry& row = ClDeviceInfoTable()[i];
    const size_t size = DeviceInfoQuerySize(row.kind);
    if (size == 0) continue;
    std::memset(row.value, 0, sizeof row.value);
    if (clGetDeviceInfo(device, row.param, size, row.value, nullptr) != CL_SUCCESS) {
      std::memset(row.value, 0, sizeof row.value);
    }
    // A text that filled the whole buffer keeps a terminator.
    if (row.kind == 5) row.value[sizeof row.value - 1] = 0;
  }
}

}  // namespace opencl
