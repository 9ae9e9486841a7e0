#include "engine/tensor.h"

#include <cstdlib>
#include <cstring>

#include "opencl/cl_memory.h"

namespace engine {

// Room for the stored raw pointer and the alignment step.
constexpr size_t kAllocSlack = 136;

void* AlignedAlloc(size_t bytes) {
  if (bytes > SIZE_MAX - kAllocSlack) return nullptr;
  void* raw = std::calloc(1, bytes + kAllocSlack);
  if (raw == nullptr) return nullptr;
  uintptr_t p = reinterpret_cast<uintptr_t>(raw) + sizeof(void*);
  p = (p + kHostAlignment - 1) & ~(uintptr_t)(kHostAlignment - 1);
  reinterpret_cast<void**>(p)[-1] = raw;
  return reinterpret_cast<void*>(p);
}

void AlignedFree(void* aligned) {
  if (aligned != nullptr) std::free(reinterpret_cast<void**>(aligned)[-1]);
}

Tensor::Tensor() = default;

Tensor::~Tensor() {
  release_host();
  if (!external_mem) delete device_mem;
  device_mem = nullptr;
}

size_t Tensor::elements() const {
  if (count != 0) return count;
  if (n < 1 || h < 1 || w < 1 || c < 1) return 0;
  return static_cast<size_t>(n) * static_cast<size_t>(h) * static_cast<size_t>(w) *
         static_cast<size_t>(c);
}

void Tensor::set_shape(int32_t n_, int32_t h_, int32_t w_, int32_t c_) {
  n = n_;
  h = h_;
  w = w_;
  c = c_;
  count = 0;
}

bool Tensor::same_shape(const Tensor& o) const {
  return n == o.n && h == o.h && w == o.w && c == o.c;
}

namespace {

template <typename T>
T* Grow(T*& buffer, bool& borrowed_flag, size_t& capacity, size_t need) {
  if (need == 0) return nullptr;
  if (buffer != nullptr && !borrowed_flag && capacity >= need) return buffer;
  if (buffer != nullptr && !borrowed_flag) AlignedFree(buffer);
  buffer = static_cast<T*>(AlignedAlloc(need * sizeof(T)));
  borrowed_flag = false;
  capacity = buffer != nullptr ? need : 0;
  return buffer;
}

}  // namespace

float* Tensor::ensure_host() {
  // A borrowed buffer is used as it is when it is large enough: it is
  // another tensor's view of the same values.
  if (borrowed && host_data != nullptr && capacity_data >= elements() && elements() > 0)
    return host_data;
  return Grow(host_data, borrowed, capacity_data, elements());
}

uint16_t* Tensor::ensure_half() {
  if (borrowed2 && host_half != nullptr && capacity_half >= elements() && elements() > 0)
    return host_half;
  return Grow(host_half, borrowed2, capacity_half, elements());
}

uint8_t* Tensor::ensure_u8() {
  if (borrowed3 && host_u8 != nullptr && capacity_u8 >= elements() && elements() > 0)
    return host_u8;
  return Grow(host_u8, borrowed3, capacity_u8, elements());
}

float* Tensor::host(int32_t wanted_layout) {
  if (wanted_layout != kLayoutNhwc || layout != kLayoutNhwc) return nullptr;
  return ensure_host();
}

void Tensor::borrow_host(const Tensor& other) {
  if (&other == this) return;
  if (host_data != nullptr && !borrowed) AlignedFree(host_data);
  if (host_half != nullptr && !borrowed2) AlignedFree(host_half);
  host_data = other.host_data;
  host_half = other.host_half;
  capacity_data = other.host_data != nullptr ? other.capacity_data : 0;
  capacity_half = other.host_half != nullptr ? other.capacity_half : 0;
  borrowed = host_data != nullptr;
  borrowed2 = host_half != nullptr;
}

void Tensor::release_host() {
  if (!borrowed) AlignedFree(host_data);
  if (!borrowed2) AlignedFree(host_half);
  if (!borrowed3) AlignedFree(host_u8);
  host_data = nullptr;
  host_half = nullptr;
  host_u8 = nullptr;
  capacity_data = capacity_half = capacity_u8 = 0;
  borrowed = borrowed2 = borrowed3 = false;
}

}  // namespace engine
