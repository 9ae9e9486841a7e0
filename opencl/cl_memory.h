// Memory objects: one buffer, one 2D image, or a 2D image laid over a
// buffer, with the row layout needed to move pixel rows in and out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "opencl/cl_engine.h"

namespace opencl {

// Qualcomm host cache policies for imported host memory.
constexpr uint32_t kHostCacheWriteBack = 0x40A5;
constexpr uint32_t kHostCacheIoCoherent = 0x40A9;

int ChannelsOf(cl_channel_order order);
int ChannelTypeSize(cl_channel_type type);

// Layout of a 2D image over a buffer (pure arithmetic).
struct ImageOverBufferLayout {
  size_t alignedWidth = 0;
  size_t byteSize = 0;  // buffer bytes
  size_t rowPitch = 0;  // bytes per image row
  size_t rowLength = 0; // channel elements per row
};
ImageOverBufferLayout ComputeImageOverBufferLayout(size_t width, size_t height,
                                                   cl_channel_type type, cl_channel_order order,
                                                   uint32_t pitchAlignment);

// Copies rows of rowBytes from src (srcPitch bytes apart) to dst (dstPitch
// bytes apart); one piece when both pitches equal rowBytes.
void CopyRows(void* dst, size_t dstPitch, const void* src, size_t srcPitch, size_t rowBytes,
              size_t rows);

class ClMemory {
 public:
  explicit ClMemory(clEngine* eng) : engine(eng) {}
  ~ClMemory() { Release(); }
  ClMemory(const ClMemory&) = delete;
  ClMemory& operator=(const ClMemory&) = delete;

  bool CreateBuffer(size_t size, cl_mem_flags flags, void* hostPtr = nullptr);
  bool CreateImage(int w, int h, cl_channel_type type, cl_channel_order order, cl_mem_flags flags,
                   void* hostPtr = nullptr);
  bool CreateImageOverBuffer(int w, int h, cl_channel_type type, cl_channel_order order,
                             cl_mem_flags flags, cl_mem existing = nullptr);

  bool Write(const void* src, size_t size, bool useMap, bool blocking);
  bool Read(void* dst, size_t size, bool useMap, bool blocking);
  // srcRowLength: host row length in channel elements of type; 0 means
  // packed rows.  A host row shorter than an image row is refused.
  bool WriteImage(const void* src, cl_channel_type type, size_t srcRowLength, bool useMap,
                  bool blocking);
  // Reads the image into dst as packed rows.
  bool ReadImage(void* dst, bool useMap, bool blocking);

  bool ImportHostMemory(size_t size, void* hostMemory);
  bool ImportHostImage(int w, int h, cl_channel_type type, cl_channel_order order,
                       cl_mem_flags flags, uint32_t policy);
  bool AttachImportedHost(size_t size, uint32_t policy);

  void Release();

  clEngine* engine = nullptr;
  cl_mem image = nullptr;
  cl_mem buffer = nullptr;
  void* hostPtr = nullptr;
  uint32_t hostCachePolicy = kHostCacheWriteBack;
  int32_t width = 0;
  int32_t height = 0;
  int32_t byteSize = 0;
  int32_t rowLength = 0;
  bool hostMode = false;
  bool externalBuffer = false;

 private:
  size_t ImageElementSize() const;
};

// Text printed when host memory cannot be imported.
extern const char* const kLogImportError;  // "import error!............\n"

}  // namespace opencl
