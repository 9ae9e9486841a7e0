// Named NHWC tensors with lazily allocated host buffers in three forms
// (float, half, byte) and an optional device memory object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace opencl {
class ClMemory;
}

namespace engine {

class Layer;

// Host layout codes.  Layer outputs are always kLayoutNhwc on the host; the
// other codes name device-side packings of weights and inputs.
constexpr int32_t kLayoutNhwc = 0;
constexpr int32_t kLayoutConvWeight = 6;
constexpr int32_t kLayoutFastWeight = 13;
constexpr int32_t kLayoutFourPixel = 18;

// Host buffers are aligned to this many bytes.
constexpr size_t kHostAlignment = 64;
// The largest element count a shape may reach (2^31 - 1).
constexpr int64_t kMaxElements = 0x7FFFFFFF;

class Tensor {
 public:
  Tensor();
  virtual ~Tensor();
  Tensor(const Tensor&) = delete;
  Tensor& operator=(const Tensor&) = delete;

  int32_t n = 0, h = 0, w = 0, c = 0;
  size_t count = 0;  // explicit element count; 0: the product of n, h, w, c
  int32_t layout = kLayoutNhwc;
  std::string name;
  float mean[3] = {0.f, 0.f, 0.f};
  float scale[3] = {1.f, 1.f, 1.f};
  float* host_data = nullptr;
  uint16_t* host_half = nullptr;
  uint8_t* host_u8 = nullptr;
  opencl::ClMemory* device_mem = nullptr;
  bool packed = false;
  bool external_mem = false;
  bool borrowed = false;   // host_data belongs to another tensor
  bool borrowed2 = false;  // host_half belongs to another tensor
  bool borrowed3 = false;  // host_u8 belongs to another tensor
  Layer* producer = nullptr;
  std::vector<Layer*> consumers;

  // Elements each host buffer can hold without regrowing.
  size_t capacity_data = 0, capacity_half = 0, capacity_u8 = 0;

  // count when set, else n*h*w*c; 0 while any dimension is below 1.
  size_t elements() const;
  // Sets the four dimensions and clears count.
  void set_shape(int32_t n, int32_t h, int32_t w, int32_t c);
  bool same_shape(const Tensor& other) const;

  // Host buffers of at least elements() values, allocated or regrown on
  // demand.  A buffer that is too small is replaced (contents dropped); a
  // borrowed one is left to its owner and replaced by an own buffer.  New
  // buffers are zero-filled.  Null when the shape is empty or allocation
  // fails.
  float* ensure_host();
  uint16_t* ensure_half();
  uint8_t* ensure_u8();

  // Host values in the requested layout.  Only kLayoutNhwc is held on the
  // host; another request answers null.
  float* host(int32_t wanted_layout = kLayoutNhwc);

  // Shares other's float and half buffers without owning them.
  void borrow_host(const Tensor& other);

  // Frees the owned host buffers and forgets the borrowed ones.
  void release_host();
};

// Ordered maps from tensor name to tensor; looking a name up with
// operator[] creates the tensor.  Layers keep plain pointers into them, so
// the maps must outlive the layers.
using TensorMap = std::map<std::string, Tensor>;
using WeightMap = std::map<std::string, Tensor>;

// 64-byte aligned allocation of bytes (zero-filled); the raw pointer is
// kept in the word just before the aligned one.
void* AlignedAlloc(size_t bytes);
void AlignedFree(void* aligned);

}  // namespace engine
