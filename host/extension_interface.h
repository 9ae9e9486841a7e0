// The binary interface between the host SDK and an extension library:
// records that cross the boundary and the abstract interfaces in their
// slot order.  Slot numbers are given next to each operation; the host
// knows nothing of our classes, so the order here must never change.
//
// The host is built with the Microsoft C++ ABI and the libraries may be
// built with another (GCC and MinGW use the Itanium ABI), so no interface
// here has a virtual destructor: the two ABIs lay one out differently (one
// "deleting destructor" entry against two entries), which would move every
// later slot.  Slot 3 of the extension objects is instead an ordinary
// virtual function with the meaning the Microsoft ABI gives that entry,
// and every slot is the same under both ABIs (tests/host/vtable_layout
// checks this with clang's layout dump for both targets).
//
// By-value ObjectRef parameters.  Both ABIs pass an ObjectRef (one pointer
// wide, with a non-trivial destructor) by the address of a temporary that
// the caller made, but they disagree on who destroys that temporary: the
// callee under the Microsoft ABI, the caller, after the call, under the
// Itanium ABI.  A host built with one and an extension built with the
// other therefore destroy it never (Microsoft host, GCC extension) or twice
// (GCC host, Microsoft extension).  The rule that makes every combination
// release the reference exactly once: the callee resets the parameter,
// releasing the reference the caller handed over, on every path before it
// returns; the holder is then empty and destroying it, zero, one or two
// times, releases nothing.  Every operation below that takes an ObjectRef
// by value follows it.  (tests/host/vtable_layout shows both ABIs' code.)
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/object_ref.h"

namespace host {

// Declared to the host before a provider registers.
struct ProviderVersion {
  int32_t major;
  int32_t minor;
  int32_t patch;
};

enum ExtensionKind : int32_t { kExtensionVideoFilter = 1 };

// Written by listExtensions into host memory.
struct ExtensionDescriptor {
  int32_t kind;
  const char* name;  // static text owned by the library
};
static_assert(sizeof(ExtensionDescriptor) == 16, "descriptor is 16 bytes");
static_assert(offsetof(ExtensionDescriptor, name) == 8, "name at offset 8");

// Filled by the host on getFrameData.  Only the listed fields belong to the
// extensions; the rest is the host's.
//
// Bytes 24..55 are host-owned: a host may publish the 4:2:0 chroma planes
// there (the host stand-in does), as two plane pointers, the luma and chroma
// row pitches and the chroma plane size.  A host that does not leaves them
// as the caller preset them (zero).  Readers trust the block only when
// chromaWidth and chromaHeight match the frame size; otherwise they use the
// luma plane alone, with rows of `width` bytes.
struct FrameDataRecord {
  uint8_t hostReserved0[16];
  uint8_t* luma;             // 16: 8-bit luma plane, rows of `width` bytes
  uint8_t* cb;               // 24: host-owned: Cb plane, or null
  uint8_t* cr;               // 32: host-owned: Cr plane, or null
  int32_t lumaPitch;         // 40: host-owned: luma row pitch in bytes, or 0
  int32_t chromaPitch;       // 44: host-owned: chroma row pitch in bytes
  int32_t chromaWidth;       // 48: host-owned: (width + 1) / 2
  int32_t chromaHeight;      // 52: host-owned: (height + 1) / 2
  uint8_t hostReserved1[40];
  int32_t width;             // 96
  int32_t height;            // 100
  int32_t hostReserved2;     // 104
  int32_t preset108;         // 108: preset 2 by the caller
  int32_t preset112;         // 112: preset 2
  int32_t preset116;         // 116: preset 2
  int32_t preset120;         // 120: preset 0
  uint8_t hostReserved3[20];
};
static_assert(sizeof(FrameDataRecord) == 144, "frame record is 144 bytes");
static_assert(offsetof(FrameDataRecord, luma) == 16, "plane pointer at 16");
static_assert(offsetof(FrameDataRecord, width) == 96, "width at 96");
static_assert(offsetof(FrameDataRecord, height) == 100, "height at 100");
static_assert(offsetof(FrameDataRecord, preset108) == 108, "preset at 108");
static_assert(offsetof(FrameDataRecord, preset120) == 120, "preset at 120");
static_assert(offsetof(FrameDataRecord, cb) == 24, "host-owned Cb plane at 24");
static_assert(offsetof(FrameDataRecord, cr) == 32, "host-owned Cr plane at 32");
static_assert(offsetof(FrameDataRecord, lumaPitch) == 40, "host-owned luma pitch at 40");
static_assert(offsetof(FrameDataRecord, chromaHeight) == 52, "host-owned chroma height at 52");

// Zeroes a record and writes the caller presets.
void PrepareFrameDataRecord(FrameDataRecord* record);

// Result of processFrame.
enum FrameResult : int {
  kFrameProcessed = 0,
  kFrameNotProcessed = 1,
  kFrameNoInput = 2,
};

// ---- Host objects (implemented by the host; slots as we call them) ----

class ExtensionProvider;

class ExtensionControl {
 public:
  virtual void reserved0() = 0;                                   // 0
  virtual void reserved1() = 0;                                   // 1
  virtual void reserved2() = 0;                                   // 2
  virtual int log(int level, const char* format, ...) = 0;        // 3
  virtual void reserved4() = 0;                                   // 4
  virtual int registerProvider(const char* name,
                               ObjectRef<ExtensionProvider> provider) = 0;  // 5
 protected:
  ~ExtensionControl() = default;
};

class FilterControl {
 public:
  virtual void addRef() = 0;                                          // 0
  virtual int release() = 0;                                          // 1
  virtual void reserved2() = 0;                                       // 2
  virtual void reserved3() = 0;                                       // 3
  virtual void reserved4() = 0;                                       // 4
  virtual void reserved5() = 0;                                       // 5
  virtual int postEvent(const char* key, const char* value) = 0;      // 6
  virtual int log(int level, const char* format, ...) = 0;            // 7
 protected:
  ~FilterControl() = default;
};

class HostVideoFrame {
 public:
  virtual void addRef() = 0;                                          // 0
  virtual int release() = 0;                                          // 1
  virtual void reserved2() = 0;                                       // 2
  virtual void reserved3() = 0;                                       // 3
  virtual int getFrameData(FrameDataRecord* record) = 0;              // 4
 protected:
  ~HostVideoFrame() = default;
};

// ---- Extension objects (implemented by the libraries) ----

class ExtensionVideoFilter {
 public:
  virtual void addRef() = 0;                                          // 0
  virtual int release() = 0;                                          // 1
  virtual bool hasOneRef() const = 0;                                 // 2
  // The Microsoft ABI's scalar deleting destructor: destroys the object,
  // frees it when bit 0 of flags is set, returns the object's address.
  virtual void* scalarDeletingDestructor(unsigned int flags) = 0;     // 3
  virtual bool slot4Query() { return true; }                          // 4
  virtual void setEnabled(bool enabled) = 0;                          // 5
  virtual bool isEnabled() = 0;                                       // 6
  virtual int setProperty(const char* key, const char* value, size_t size) = 0;  // 7
  virtual int slot8Query() { return 0; }                              // 8
  virtual bool slot9Query() { return true; }                          // 9
  virtual void slot10Notify() {}                                      // 10
  virtual bool slot11Query() { return true; }                         // 11
  virtual bool slot12Query() { return true; }                         // 12
  virtual void slot13Query(int* value, bool* flag) {                  // 13
    if (value) *value = 0;
    if (flag) *flag = false;
  }
  virtual int start(ObjectRef<FilterControl> control) = 0;            // 14
  virtual int stop() = 0;                                             // 15
  virtual void slot16Query(int* a, int* b) {                          // 16
    if (a) *a = 0;
    if (b) *b = 1;
  }
  virtual int dropFrame(ObjectRef<HostVideoFrame> frame) {            // 17
    frame.reset();
    return kFrameNotProcessed;
  }
  virtual int processFrame(ObjectRef<HostVideoFrame> input,
                           ObjectRef<HostVideoFrame>& output) = 0;    // 18
  virtual bool slot19Query() { return false; }                        // 19

 protected:
  // Destroyed through slot 3 only.
  ~ExtensionVideoFilter() = default;
};

class ExtensionProvider {
 public:
  virtual void addRef() = 0;                                          // 0
  virtual int release() = 0;                                          // 1
  virtual bool hasOneRef() const = 0;                                 // 2
  // As ExtensionVideoFilter's slot 3.
  virtual void* scalarDeletingDestructor(unsigned int flags) = 0;     // 3
  virtual void setExtensionControl(ExtensionControl* control) = 0;    // 4
  virtual void listExtensions(ExtensionDescriptor* out, int* count) = 0;  // 5
  virtual void slot6Factory(ObjectRef<ExtensionVideoFilter>& out, const char* name) {  // 6
    (void)name;
    out.reset();
  }
  virtual void createVideoFilter(ObjectRef<ExtensionVideoFilter>& out, const char* name) = 0;  // 7
  virtual void slot8Factory(ObjectRef<ExtensionVideoFilter>& out, const char* name) {  // 8
    (void)name;
    out.reset();
  }
  virtual void slot9Notify() {}                                       // 9

 protected:
  ~ExtensionProvider() = default;
};

// Bit 0 of the deleting destructor's flags: free the memory too.
constexpr unsigned int kDeleteAfterDestroy = 1u;

// Reference counting for objects this system creates, as the base of the
// concrete class Derived: count starts at 0, release destroys and frees the
// object through slot 3 at zero and answers 0.
template <class Base, class Derived>
class RefCounted : public Base {
 public:
  void addRef() override { refs_.increment(); }
  int release() override {
    if (refs_.decrement() == 0) {
      this->scalarDeletingDestructor(kDeleteAfterDestroy);
      return 0;
    }
    return 1;
  }
  bool hasOneRef() const override { return refs_.isOne(); }
  void* scalarDeletingDestructor(unsigned int flags) override {
    Derived* self = static_cast<Derived*>(this);
    if (flags & kDeleteAfterDestroy) {
      delete self;
    } else {
      self->~Derived();
    }
    return self;
  }
  // Current count, for diagnostics; not part of the interface.
  int32_t refCount() const { return refs_.value(); }

 protected:
  ~RefCounted() = default;

 private:
  RefCount refs_;
};

}  // namespace host
