// Program build, kernel lookup and the binary cache file of clEngine.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "opencl/cl_engine.h"
#include "opencl/cl_error.h"
#include "platform/platform.h"

namespace opencl {

const char* const kErrCreateWithSource = "Create Programe With Source error!";
const char* const kErrBuildProgram = "Build Programe Error!";
const char* const kErrNotInitialized = "clEngine not initialized!";
const char* const kErrCreateWithBinary = "Create Programe With Binary error!";
const char* const kErrStaleBinaryCache = "Binary cache stale or damaged, rebuilding it from source";
const char* const kErrCreateKernels = "Create Kernels Error!";

namespace {

namespace fs = std::filesystem;

constexpr const char* kSaveBinPrefix = "Save bin to ";
constexpr const char* kOpenFilePrefix = "Open file ";
constexpr const char* kErrorSuffix = " error!";
constexpr const char* kRecordSuffix = ".meta";
constexpr const char* kTempSuffix = ".tmp";
constexpr const char* kFieldLength = "length ";
constexpr const char* kFieldHash = "hash ";
constexpr const char* kFieldDevice = "device ";
constexpr const char* kFieldDriver = "driver ";
// Records are a few lines; anything longer is not one of ours.
constexpr uintmax_t kMaxRecordBytes = 4096;
constexpr size_t kDriverVersionBytes = 256;

}  // namespace

std::string CacheTempPath(const std::string& path) {
  return path + "." + std::to_string(platform::ProcessId()) + kTempSuffix;
}

namespace {

// Writes data to path through a temporary file beside it and a rename, so
// the path holds either its old content or all of the new one.  Every
// call is checked; the temporary file never outlives a failure.
bool WriteFileReplacing(const std::string& path, const void* data, size_t size) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  // Never replace a directory, a device or anything else but a plain file.
  if (fs::exists(st) && !fs::is_regular_file(st)) return false;

  // Named after this process: two processes filling one cache at once
  // each write their own file, and the last rename wins whole.
  const std::string temp = CacheTempPath(path);
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  ok = std::fflush(f) == 0 && ok;
  ok = std::ferror(f) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  if (ok) ok = platform::RenameReplacing(temp.c_str(), path.c_str());
  if (!ok) std::remove(temp.c_str());
  return ok;
}

// Reads a whole regular file; false for anything else, an empty file or a
// short read.
bool ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  bool ok = std::fseek(f, 0, SEEK_END) == 0;
  const long length = ok ? std::ftell(f) : -1;
  ok = ok && length > 0 && std::fseek(f, 0, SEEK_SET) == 0;
  if (ok) {
    bytes->assign(static_cast<size_t>(length), 0);
    ok = std::fread(bytes->data(), 1, bytes->size(), f) == bytes->size();
  }
  std::fclose(f);
  return ok;
}

bool ReadRecord(const std::string& binaryPath, BinaryCacheRecord* record) {
  const std::string path = BinaryCacheRecordPath(binaryPath);
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  const uintmax_t size = fs::file_size(path, ec);
  if (ec || size == 0 || size > kMaxRecordBytes) return false;
  std::vector<unsigned char> bytes;
  if (!ReadWholeFile(path, &bytes)) return false;
  return ParseCacheRecord(std::string(bytes.begin(), bytes.end()), record);
}

}  // namespace

std::string SaveBinaryError(const std::string& path) { return kSaveBinPrefix + path + kErrorSuffix; }
std::string OpenFileError(const std::string& path) { return kOpenFilePrefix + path + kErrorSuffix; }

std::string BinaryCacheRecordPath(const std::string& binaryPath) { return binaryPath + kRecordSuffix; }

uint64_t BinaryHash(const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  uint64_t h = 14695981039346656037ULL;
  for (size_t i = 0; i < size; ++i) {
    h ^= p[i];
    h *= 1099511628211ULL;
  }
  return h;
}

std::string FormatCacheRecord(const BinaryCacheRecord& record) {
  std::ostringstream out;
  out << kFieldLength << record.length << '\n'
      << kFieldHash << std::hex << record.hash << std::dec << '\n'
      << kFieldDevice << record.deviceName << '\n'
      << kFieldDriver << record.driverVersion << '\n';
  return out.str();
}

bool ParseCacheRecord(const std::string& text, BinaryCacheRecord* record) {
  std::istringstream in(text);
  std::string line;
  bool haveLength = false, haveHash = false, haveDevice = false, haveDriver = false;
  BinaryCacheRecord r;
  auto startsWith = [&line](const char* prefix) { return line.rfind(prefix, 0) == 0; };
  while (std::getline(in, line)) {
    if (startsWith(kFieldLength)) {
      std::istringstream v(line.substr(std::strlen(kFieldLength)));
      haveLength = static_cast<bool>(v >> r.length) && v.eof();
    } else if (startsWith(kFieldHash)) {
      std::istringstream v(line.substr(std::strlen(kFieldHash)));
      haveHash = static_cast<bool>(v >> std::hex >> r.hash) && v.eof();
    } else if (startsWith(kFieldDevice)) {
      r.deviceName = line.substr(std::strlen(kFieldDevice));
      haveDevice = true;
    } else if (startsWith(kFieldDriver)) {
      r.driverVersion = line.substr(std::strlen(kFieldDriver));
      haveDriver = true;
    }
  }
  if (!(haveLength && haveHash && haveDevice && haveDriver)) return false;
  *record = r;
  return true;
}

std::string clEngine::DriverVersion() const {
  return QueryDeviceText(device, CL_DRIVER_VERSION, kDriverVersionBytes);
}

bool clEngine::BuildFromSource(const char* source, const std::string& binaryPath) {
  if (program != nullptr) {
    clReleaseProgram(program);
    program = nullptr;
  }
  cl_int status = CL_SUCCESS;
  program = clCreateProgramWithSource(context, 1, &source, nullptr, &status);
  if (program == nullptr) {
    lastError = kErrCreateWithSource;
    return false;
  }
  status = clBuildProgram(program, 0, nullptr, buildOptions.c_str(), nullptr, nullptr);
  if (status != CL_SUCCESS) {
    lastError = std::string(kErrBuildProgram) + "\n";
    size_t logSize = 0;
    if (clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &logSize) ==
            CL_SUCCESS &&
        logSize > 0) {
      std::vector<char> log(logSize + 1, '\0');
      if (clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, logSize, log.data(),
                                nullptr) == CL_SUCCESS) {
        log[logSize] = '\0';
        lastError += log.data();
      }
    }
    return false;
  }

  cl_uint count = 0;
  if (clCreateKernelsInProgram(program, 0, nullptr, &count) == CL_SUCCESS && count > 0) {
    ReleaseKernels();
    std::vector<cl_kernel> created(count, nullptr);
    if (clCreateKernelsInProgram(program, count, created.data(), nullptr) == CL_SUCCESS) {
      kernels.insert(kernels.end(), created.begin(), created.end());
    }
  }

  if (binaryPath.empty()) return true;
  if (!SaveBinary(binaryPath)) {
    lastError = SaveBinaryError(binaryPath);
    return false;
  }
  return true;
}

bool clEngine::SaveBinary(const std::string& binaryPath) {
  size_t size = 0;
  if (clGetProgramInfo(program, CL_PROGRAM_BINARY_SIZES, sizeof size, &size, nullptr) !=
          CL_SUCCESS ||
      size == 0) {
    return false;
  }
  std::vector<unsigned char> bytes(size, 0);
  unsigned char* target = bytes.data();
  if (clGetProgramInfo(program, CL_PROGRAM_BINARIES, sizeof target, &target, nullptr) !=
      CL_SUCCESS) {
    return false;
  }
  if (!WriteFileReplacing(binaryPath, bytes.data(), bytes.size())) return false;

  BinaryCacheRecord record;
  record.length = size;
  record.hash = BinaryHash(bytes.data(), bytes.size());
  record.deviceName = deviceName;
  record.driverVersion = DriverVersion();
  const std::string text = FormatCacheRecord(record);
  return WriteFileReplacing(BinaryCacheRecordPath(binaryPath), text.data(), text.size());
}

bool clEngine::LoadBinary(const std::string& binaryPath) {
  if (!initialized) {
    lastError = kErrNotInitialized;
    return false;
  }
  std::vector<unsigned char> bytes;
  if (!ReadWholeFile(binaryPath, &bytes)) {
    lastError = OpenFileError(binaryPath);
    return false;
  }
  // Drivers may crash on a damaged binary: only one that matches its
  // record, written for this device and driver, is handed over.
  BinaryCacheRecord record;
  if (!ReadRecord(binaryPath, &record) || record.length != bytes.size() ||
      record.hash != BinaryHash(bytes.data(), bytes.size()) || record.deviceName != deviceName ||
      record.driverVersion != DriverVersion()) {
    lastError = kErrStaleBinaryCache;
    return false;
  }

  if (program != nullptr) {
    clReleaseProgram(program);
    program = nullptr;
  }
  const size_t length = bytes.size();
  const unsigned char* binary = bytes.data();
  cl_int status = CL_SUCCESS;
  program = clCreateProgramWithBinary(context, 1, &device, &length, &binary, nullptr, &status);
  if (program == nullptr) {
    lastError = kErrCreateWithBinary;
    return false;
  }
  status = clBuildProgram(program, 0, nullptr, buildOptions.c_str(), nullptr, nullptr);
  if (status != CL_SUCCESS) {
    lastError = kErrBuildProgram;
    return false;
  }

  cl_uint count = 0;
  if (clCreateKernelsInProgram(program, 0, nullptr, &count) == CL_SUCCESS && count > 0) {
    ReleaseKernels();
    std::vector<cl_kernel> created(count, nullptr);
    if (clCreateKernelsInProgram(program, count, created.data(), nullptr) != CL_SUCCESS) {
      lastError = kErrCreateKernels;
      return false;
    }
    for (cl_kernel k : created) {
      kernels.push_back(k);
      const std::string name = QueryKernelName(k);
      if (!name.empty()) kernelsByName[name] = k;
    }
  }
  return true;
}

cl_kernel clEngine::GetKernel(const std::string& name, bool create, bool fromFront) {
  if (create) {
    cl_kernel k = clCreateKernel(program, name.c_str(), nullptr);
    if (k != nullptr) kernels.push_back(k);
    return k;
  }
  const size_t n = kernels.size();
  for (size_t step = 0; step < n; ++step) {
    cl_kernel k = kernels[fromFront ? step : n - 1 - step];
    if (k == nullptr) continue;
    const std::string kname = QueryKernelName(k);
    // A failed name query gives an empty text, which never matches.
    if (!kname.empty() && kname == name) return k;
  }
  return nullptr;
}

void clEngine::ReleaseKernels() {
  for (cl_kernel& k : kernels) {
    if (k != nullptr) {
      clReleaseKernel(k);
      k = nullptr;
    }
  }
  kernels.clear();
  // The map would otherwise hold handles of released kernels.
  kernelsByName.clear();
}

bool clEngine::Release() {
  if (queue != nullptr) {
    clReleaseCommandQueue(queue);
    queue = nullptr;
  }
  ReleaseKernels();
  if (program != nullptr) {
    clReleaseProgram(program);
    program = nullptr;
  }
  if (context != nullptr) {
    clReleaseContext(context);
    context = nullptr;
  }
  return true;
}

}  // namespace opencl
