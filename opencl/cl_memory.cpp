#include "opencl/cl_memory.h"

#include <cstdio>
#include <cstring>

#include "opencl/cl_error.h"

namespace opencl {

const char* const kLogImportError = "import error!............\n";

namespace {
constexpr const char* kLogStatus = "%s\n";

bool Report(cl_int status) {
  if (status != CL_SUCCESS) std::printf(kLogStatus, ClErrorName(status));
  return status == CL_SUCCESS;
}

bool BufferTransfer(clEngine* engine, cl_mem buffer, void* host, size_t size, bool useMap,
                    bool blocking, bool toDevice) {
  if (!useMap) {
    const cl_int status =
        toDevice ? clEnqueueWriteBuffer(engine->queue, buffer, blocking ? CL_TRUE : CL_FALSE, 0,
                                        size, host, 0, nullptr, nullptr)
                 : clEnqueueReadBuffer(engine->queue, buffer, blocking ? CL_TRUE : CL_FALSE, 0,
                                       size, host, 0, nullptr, nullptr);
    return Report(status);
  }
  cl_int status = CL_SUCCESS;
  void* mapped = clEnqueueMapBuffer(engine->queue, buffer, CL_TRUE,
                                    toDevice ? CL_MAP_WRITE : CL_MAP_READ, 0, size, 0, nullptr,
                                    nullptr, &status);
  if (mapped == nullptr) {
    Report(status == CL_SUCCESS ? CL_INVALID_VALUE : status);
    return false;
  }
  if (toDevice) {
    std::memcpy(mapped, host, size);
  } else {
    std::memcpy(host, mapped, size);
  }
  return Report(clEnqueueUnmapMemObject(engine->queue, buffer, mapped, 0, nullptr, nullptr));
}
}  // namespace

int ChannelsOf(cl_channel_order order) {
  switch (order) {
    case CL_R:
    case CL_A: return 1;
    case CL_RG:
    case CL_RA: return 2;
    case CL_RGB: return 3;
    default: return 4;
  }
}

int ChannelTypeSize(cl_channel_type type) {
  switch (type) {
    case CL_SNORM_INT16:
    case CL_UNORM_INT16:
    case CL_SIGNED_INT16:
    case CL_UNSIGNED_INT16:
    case CL_HALF_FLOAT: return 2;
    case CL_SIGNED_INT32:
    case CL_UNSIGNED_INT32:
    case CL_FLOAT: return 4;
    default: return 1;
  }
}

ImageOverBufferLayout ComputeImageOverBufferLayout(size_t width, size_t height,
                                                   cl_channel_type type, cl_channel_order order,
                                                   uint32_t pitchAlignment) {
  const size_t align = pitchAlignment == 0 ? 1 : pitchAlignment;
  ImageOverBufferLayout l;
  l.alignedWidth = (width + align - 1) / align * align;
  const size_t channels = static_cast<size_t>(ChannelsOf(order));
  const size_t typeSize = static_cast<size_t>(ChannelTypeSize(type));
  l.byteSize = channels * typeSize * l.alignedWidth * height;
  l.rowPitch = l.alignedWidth * typeSize * channels;
  l.rowLength = l.alignedWidth * channels;
  return l;
}

void CopyRows(void* dst, size_t dstPitch, const void* src, size_t srcPitch, size_t rowBytes,
              size_t rows) {
  auto* d = static_cast<unsigned char*>(dst);
  const auto* s = static_cast<const unsigned char*>(src);
  if (dstPitch == rowBytes && srcPitch == rowBytes) {
    std::memcpy(d, s, rowBytes * rows);
    return;
  }
  for (size_t r = 0; r < rows; ++r) std::memcpy(d + r * dstPitch, s + r * srcPitch, rowBytes);
}

bool ClMemory::CreateBuffer(size_t size, cl_mem_flags flags, void* host) {
  Release();
  cl_int status = CL_SUCCESS;
  buffer = clCreateBuffer(engine->context, flags, size, host, &status);
  if (buffer != nullptr) {
    // A one-byte pattern fills any size; wider patterns need sizes that
    // are multiples of the pattern.
    const cl_uchar zero = 0;
    PrintClError(clEnqueueFillBuffer(engine->queue, buffer, &zero, sizeof zero, 0, size, 0,
                                     nullptr, nullptr));
  } else {
    PrintClError(status);
  }
  byteSize = static_cast<int32_t>(size);
  return buffer != nullptr;
}

bool ClMemory::CreateImage(int w, int h, cl_channel_type type, cl_channel_order order,
                           cl_mem_flags flags, void* host) {
  Release();
  cl_image_format format{order, type};
  cl_image_desc desc;
  std::memset(&desc, 0, sizeof desc);
  desc.image_type = CL_MEM_OBJECT_IMAGE2D;
  desc.image_width = static_cast<size_t>(w);
  desc.image_height = static_cast<size_t>(h);
  cl_int status = CL_SUCCESS;
  image = clCreateImage(engine->context, flags, &format, &desc, host, &status);
  PrintClError(status);
  if (image == nullptr) return false;
  size_t pitch = 0;
  if (clGetImageInfo(image, CL_IMAGE_ROW_PITCH, sizeof pitch, &pitch, nullptr) != CL_SUCCESS) {
    pitch = 0;
  }
  width = w;
  height = h;
  rowLength = static_cast<int32_t>(pitch / static_cast<size_t>(ChannelTypeSize(type)));
  return true;
}

bool ClMemory::CreateImageOverBuffer(int w, int h, cl_channel_type type, cl_channel_order order,
                                     cl_mem_flags flags, cl_mem existing) {
  Release();
  const ImageOverBufferLayout layout =
      ComputeImageOverBufferLayout(static_cast<size_t>(w), static_cast<size_t>(h), type, order,
                                   engine->pitchAlignment);
  cl_int status = CL_SUCCESS;
  if (existing != nullptr) {
    buffer = existing;
    externalBuffer = true;
  } else {
    buffer = clCreateBuffer(engine->context, flags, layout.byteSize, nullptr, &status);
    PrintClError(status);
  }
  cl_image_format format{order, type};
  cl_image_desc desc;
  std::memset(&desc, 0, sizeof desc);
  desc.image_type = CL_MEM_OBJECT_IMAGE2D;
  desc.image_width = static_cast<size_t>(w);
  desc.image_height = static_cast<size_t>(h);
  desc.image_row_pitch = layout.rowPitch;
  desc.buffer = buffer;
  if (buffer != nullptr) {
    status = CL_SUCCESS;
    image = clCreateImage(engine->context, flags, &format, &desc, nullptr, &status);
    PrintClError(status);
  }
  if (buffer == nullptr || image == nullptr) return false;
  width = w;
  height = h;
  byteSize = static_cast<int32_t>(layout.byteSize);
  rowLength = static_cast<int32_t>(layout.rowLength);
  return true;
}

bool ClMemory::Write(const void* src, size_t size, bool useMap, bool blocking) {
  return BufferTransfer(engine, buffer, const_cast<void*>(src), size, useMap, blocking, true);
}

bool ClMemory::Read(void* dst, size_t size, bool useMap, bool blocking) {
  return BufferTransfer(engine, buffer, dst, size, useMap, blocking, false);
}

size_t ClMemory::ImageElementSize() const {
  size_t element = 0;
  if (clGetImageInfo(image, CL_IMAGE_ELEMENT_SIZE, sizeof element, &element, nullptr) !=
      CL_SUCCESS) {
    return 0;
  }
  return element;
}

bool ClMemory::ReadImage(void* dst, bool useMap, bool blocking) {
  const size_t origin[3] = {0, 0, 0};
  const size_t region[3] = {static_cast<size_t>(width), static_cast<size_t>(height), 1};
  if (!useMap) {
    return Report(clEnqueueReadImage(engine->queue, image, blocking ? CL_TRUE : CL_FALSE, origin,
                                     region, 0, 0, dst, 0, nullptr, nullptr));
  }
  size_t pitch = 0;
  cl_int status = CL_SUCCESS;
  void* mapped = clEnqueueMapImage(engine->queue, image, CL_TRUE, CL_MAP_READ, origin, region,
                                   &pitch, nullptr, 0, nullptr, nullptr, &status);
  if (mapped == nullptr) {
    Report(status == CL_SUCCESS ? CL_INVALID_VALUE : status);
    return false;
  }
  const size_t element = ImageElementSize();
  const size_t rowBytes = static_cast<size_t>(width) * element;
  bool ok = element != 0;
  if (ok) CopyRows(dst, rowBytes, mapped, pitch, rowBytes, static_cast<size_t>(height));
  ok = Report(clEnqueueUnmapMemObject(engine->queue, image, mapped, 0, nullptr, nullptr)) && ok;
  return ok;
}

bool ClMemory::WriteImage(const void* src, cl_channel_type type, size_t srcRowLength, bool useMap,
                          bool blocking) {
  const size_t element = ImageElementSize();
  if (element == 0) return false;
  const size_t srcPitch = srcRowLength * static_cast<size_t>(ChannelTypeSize(type));
  const size_t rowBytes = static_cast<size_t>(width) * element;
  // A host row shorter than an image row would be read past its end.
  if (srcRowLength != 0 && srcPitch < rowBytes) return false;
  const size_t origin[3] = {0, 0, 0};
  const size_t region[3] = {static_cast<size_t>(width), static_cast<size_t>(height), 1};
  if (useMap && srcRowLength != 0) {
    size_t pitch = 0;
    cl_int status = CL_SUCCESS;
    void* mapped =
        clEnqueueMapImage(engine->queue, image, CL_TRUE, CL_MAP_WRITE_INVALIDATE_REGION, origin,
                          region, &pitch, nullptr, 0, nullptr, nullptr, &status);
    if (mapped == nullptr) {
      Report(status == CL_SUCCESS ? CL_INVALID_VALUE : status);
      return false;
    }
    // Equal pitches copy one piece; the last host row may end right after
    // its pixels, so only whole rows are copied otherwise.
    CopyRows(mapped, pitch, src, srcPitch, pitch == srcPitch ? pitch : rowBytes,
             static_cast<size_t>(height));
    return Report(clEnqueueUnmapMemObject(engine->queue, image, mapped, 0, nullptr, nullptr));
  }
  return Report(clEnqueueWriteImage(engine->queue, image, blocking ? CL_TRUE : CL_FALSE, origin,
                                    region, srcPitch, 0, src, 0, nullptr, nullptr));
}

bool ClMemory::ImportHostMemory(size_t /*size*/, void* hostMemory) {
  Release();
  // A device that reports no cache line size sets no alignment rule.
  const uintptr_t line = engine->cacheLineSize;
  const uintptr_t mask = line > 0 ? line - 1 : 0;
  if ((reinterpret_cast<uintptr_t>(hostMemory) & mask) != 0) return false;
  // No import entry point is bound, so no buffer can wrap host memory.
  std::fputs(kLogImportError, stdout);
  return false;
}

bool ClMemory::ImportHostImage(int, int, cl_channel_type, cl_channel_order, cl_mem_flags,
                               uint32_t) {
  Release();
  return false;
}

bool ClMemory::AttachImportedHost(size_t, uint32_t) {
  Release();
  return false;
}

void ClMemory::Release() {
  if (image != nullptr) clReleaseMemObject(image);
  if (buffer != nullptr && !externalBuffer) clReleaseMemObject(buffer);
  width = 0;
  height = 0;
  byteSize = 0;
  rowLength = 0;
  hostCachePolicy = kHostCacheWriteBack;
  hostMode = false;
  externalBuffer = false;
  image = nullptr;
  buffer = nullptr;
}

cl_mem clEngine::CreateBuffer(size_t size, cl_mem_flags flags, void* hostPtr) {
  cl_int status = CL_SUCCESS;
  cl_mem mem = clCreateBuffer(context, flags, size, hostPtr, &status);
  PrintClError(status);
  return mem;
}

bool clEngine::WriteBuffer(cl_mem target, const void* src, size_t size, bool useMap,
                           bool blocking) {
  return BufferTransfer(this, target, const_cast<void*>(src), size, useMap, blocking, true);
}

}  // namespace opencl
