// Reference holder for the reference-counted objects that cross the host
// boundary.  One pointer wide; copying takes a reference, resetting or
// destroying releases it.  A by-value ObjectRef parameter belongs to the
// callee, which resets it before returning.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace host {

template <class T>
class ObjectRef {
 public:
  ObjectRef() = default;
  // Adopts a pointer without taking a reference (the caller already holds it).
  static ObjectRef Adopt(T* p) {
    ObjectRef r;
    r.ptr_ = p;
    return r;
  }
  // Takes a new reference to p.
  explicit ObjectRef(T* p) : ptr_(p) {
    if (ptr_) ptr_->addRef();
  }
  ObjectRef(const ObjectRef& other) : ptr_(other.ptr_) {
    if (ptr_) ptr_->addRef();
  }
  ObjectRef(ObjectRef&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
  ~ObjectRef() { reset(); }

  ObjectRef& operator=(const ObjectRef& other) {
    assign(other.ptr_);
    return *this;
  }
  ObjectRef& operator=(ObjectRef&& other) noexcept {
    if (this != &other) {
      T* old = ptr_;
      ptr_ = other.ptr_;
      other.ptr_ = nullptr;
      if (old) old->release();
    }
    return *this;
  }

  // Assignment rule: a different object gains a reference before the old
  // one loses its own; the same object is left alone.
  void assign(T* p) {
    if (p == ptr_) return;
    if (p) p->addRef();
    T* old = ptr_;
    ptr_ = p;
    if (old) old->release();
  }

  void reset() {
    T* old = ptr_;
    ptr_ = nullptr;
    if (old) old->release();
  }

  // Gives up the pointer without releasing it.
  T* detach() {
    T* p = ptr_;
    ptr_ = nullptr;
    return p;
  }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

 private:
  T* ptr_ = nullptr;
};

static_assert(sizeof(ObjectRef<int>) == sizeof(void*), "ObjectRef is one pointer wide");

// Atomic reference count shared by the objects this system hands out.
// Count starts at 0; the creator takes the first reference.
class RefCount {
 public:
  void increment() { count_.fetch_add(1, std::memory_order_relaxed); }
  // Returns the count after the decrement.
  int32_t decrement() { return count_.fetch_sub(1, std::memory_order_acq_rel) - 1; }
  bool isOne() const { return count_.load(std::memory_order_acquire) == 1; }
  int32_t value() const { return count_.load(std::memory_order_acquire); }

 private:
  std::atomic<int32_t> count_{0};
};

}  // namespace host
