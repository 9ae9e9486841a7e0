// The OpenCL engine: chooses one device by vendor preference, probes what
// it can do, owns its context, command queue, current program and kernels,
// and keeps the compiled program in an optional binary cache file.
#pragma once

// The queue is created with the OpenCL 1.2 call that every driver has.
#ifndef CL_USE_DEPRECATED_OPENCL_1_1_APIS
#define CL_USE_DEPRECATED_OPENCL_1_1_APIS
#endif
#ifndef CL_USE_DEPRECATED_OPENCL_1_2_APIS
#define CL_USE_DEPRECATED_OPENCL_1_2_APIS
#endif
#include <CL/cl.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace opencl {

// Vendor codes of the engine.
enum ClVendor : int {
  kVendorUnknown = 0,
  kVendorNvidia = 1,
  kVendorAmdGpu = 2,
  kVendorArm = 3,
  kVendorAmdCpu = 4,
  kVendorIntelCpu = 5,
  kVendorIntelGpu = 6,
  kVendorQualcomm = 7,
  kVendorImagination = 8,
  kVendorApple = 9,
};
constexpr int kVendorCount = 10;

struct ClVendorInfo {
  const char* name;
  const char* altName;
  cl_device_type deviceType;
};

// The row of a vendor code (0 to 9); codes outside give the row of 0.
const ClVendorInfo& VendorInfo(int code);

// Codes searched, in order, when the caller prefers no vendor.
extern const int kDefaultVendorOrder[7];

constexpr int kMaxPlatforms = 6;
constexpr int kMaxDevices = 8;

// Device-name substrings for which half precision is switched off.
extern const char* const kFp16DenyList[2];
// Device-name substrings for which the sub-group size is fixed at 8.
extern const char* const kFixedSubgroupList[2];

// Pure decisions of the probe, on texts the device reported.
bool DeviceVendorMatches(const std::string& upperVendor, int code);
bool Fp16Denied(const std::string& deviceName);
int FixedSubgroupSizeFor(const std::string& deviceName);
// Upper-cases the ASCII letters a to z only.
std::string AsciiUpper(std::string text);
// The option string for the program builds, in its fixed order.
std::string MakeBuildOptions(bool openCL2, bool fp16, int vendor);

// One row of the process-wide device information record.
struct ClDeviceInfoEntry {
  uint32_t param;
  char name[128];
  int kind;  // 0 u32, 1 size_t, 2 3 x size_t, 3 u64/bit-field, 4 bool, 5 string
  unsigned char value[2048];
};
constexpr int kDeviceInfoRows = 58;
// Query size in bytes for a value kind; 0 for an unknown kind.
size_t DeviceInfoQuerySize(int kind);
// The process-wide table, filled for the chosen device at each successful
// device choice.  A record for inspection only.
ClDeviceInfoEntry* ClDeviceInfoTable();

// Holds the device that imported host memory would be allocated for.
struct HostAllocator {
  cl_device_id device = nullptr;
};

class clEngine {
 public:
  clEngine() = default;
  ~clEngine();
  clEngine(const clEngine&) = delete;
  clEngine& operator=(const clEngine&) = delete;

  // Binds OpenCL, chooses a device (vendor 0: any GPU in the default
  // order), probes it, creates the context and the command queue.
  bool Init(int vendorCode, bool profiling, bool outOfOrderQueue);

  // Program and kernels.
  bool BuildFromSource(const char* source, const std::string& binaryPath);
  bool LoadBinary(const std::string& binaryPath);
  cl_kernel GetKernel(const std::string& name, bool create, bool fromFront);
  void ReleaseKernels();
  // Releases queue, kernels, program and context; safe to call again.
  bool Release();

  // Buffers the caller owns.
  cl_mem CreateBuffer(size_t size, cl_mem_flags flags, void* hostPtr);
  bool WriteBuffer(cl_mem buffer, const void* src, size_t size, bool useMap, bool blocking);

  bool initialized = false;
  std::string lastError;
  int vendor = 0;
  cl_platform_id platform = nullptr;
  cl_command_queue queue = nullptr;
  cl_device_id device = nullptr;
  cl_context context = nullptr;
  cl_program program = nullptr;
  HostAllocator hostAllocator;
  std::string deviceName;
  std::string deviceVersion;
  std::string buildOptions;
  bool outOfOrder = false;
  bool fp16 = false;
  bool openCL2 = false;
  bool svmFineGrainBuffer = false;
  bool imageFromBuffer = false;
  bool qcomHostIocoherent = false;
  bool armImportHost = false;
  bool khrSubgroups = false;
  bool rgbaSnormInt8 = false;
  int fixedSubgroupSize = 0;
  uint32_t cacheLineSize = 64;
  uint32_t pitchAlignment = 0;
  std::vector<cl_kernel> kernels;
  std::map<std::string, cl_kernel> kernelsByName;
  size_t maxWorkItemSizes[3] = {0, 0, 0};

 private:
  bool ChooseDevice(const std::vector<cl_platform_id>& platforms, const std::vector<int>& order,
                    cl_device_type type);
  void ProbeDevice();
  bool SaveBinary(const std::string& binaryPath);
  std::string DriverVersion() const;
};

// The temporary file a program cache at path is written through before it
// replaces path: beside it and named after this process.
std::string CacheTempPath(const std::string& path);

// Fixed texts of the engine, printed or left in lastError.
extern const char* const kErrNotAllFunctions;        // "Not all needed cl functions found!"
extern const char* const kErrNoPlatforms;            // "No available platforms found!"
extern const char* const kErrGetPlatformId;          // "Get platformID error!"
extern const char* const kErrGetPlatformInfo;        // "Get platformInfo error!"
extern const char* const kErrNoDevice;               // "Can not detect OpenCL platform!"
extern const char* const kErrCreateContext;          // "Create Context error"
extern const char* const kErrCreateQueue;            // "Create Command Queue error"
extern const char* const kErrCreateWithSource;       // "Create Programe With Source error!"
extern const char* const kErrBuildProgram;           // "Build Programe Error!"
extern const char* const kErrNotInitialized;         // "clEngine not initialized!"
extern const char* const kErrCreateWithBinary;       // "Create Programe With Binary error!"
// Left by LoadBinary when the binary does not match its integrity record
// (or has none): the cache is not used and callers build from source.
extern const char* const kErrStaleBinaryCache;  // "Binary cache stale or damaged, rebuilding it from source"
extern const char* const kErrCreateKernels;          // "Create Kernels Error!"
std::string SaveBinaryError(const std::string& path);  // "Save bin to <path> error!"
std::string OpenFileError(const std::string& path);    // "Open file <path> error!"

// Integrity record kept beside a binary cache file, written after the
// binary and checked before the binary reaches the driver, so a damaged,
// truncated or foreign file means a rebuild rather than a crash.
struct BinaryCacheRecord {
  uint64_t length = 0;
  uint64_t hash = 0;  // FNV-1a, 64 bit, over the whole binary
  std::string deviceName;
  std::string driverVersion;
};
std::string BinaryCacheRecordPath(const std::string& binaryPath);
uint64_t BinaryHash(const void* data, size_t size);
std::string FormatCacheRecord(const BinaryCacheRecord& record);
// False for a text that lacks any of the four fields.
bool ParseCacheRecord(const std::string& text, BinaryCacheRecord* record);

// Texts of the fixed-size info queries: the buffer is zeroed, the status
// checked, and an empty text returned on failure.
std::string QueryPlatformText(cl_platform_id platform, cl_platform_info param, size_t bufSize);
std::string QueryDeviceText(cl_device_id device, cl_device_info param, size_t bufSize);
std::string QueryKernelName(cl_kernel kernel);

}  // namespace opencl
