// Reference counting of the objects that cross the host boundary.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "host/extension_interface.h"
#include "host/object_ref.h"
#include "host/single_filter_provider.h"

namespace {

// A counted object that records its own destruction.
class Tracked final : public host::RefCounted<host::ExtensionProvider, Tracked> {
 public:
  explicit Tracked(int* destroyed) : destroyed_(destroyed) {}
  ~Tracked() { ++*destroyed_; }
  void setExtensionControl(host::ExtensionControl*) override {}
  void listExtensions(host::ExtensionDescriptor*, int*) override {}
  void createVideoFilter(host::ObjectRef<host::ExtensionVideoFilter>&, const char*) override {}

 private:
  int* destroyed_;
};

using Ref = host::ObjectRef<host::ExtensionProvider>;

int CountOf(host::ExtensionProvider* p) { return static_cast<Tracked*>(p)->refCount(); }

TEST(RefCounting, ReleaseAnswersOneWhileReferencesRemainAndZeroWhenDestroyed) {
  int destroyed = 0;
  Tracked* t = new Tracked(&destroyed);
  t->addRef();
  t->addRef();
  EXPECT_FALSE(t->hasOneRef());
  EXPECT_EQ(t->release(), 1);
  EXPECT_EQ(destroyed, 0);
  EXPECT_TRUE(t->hasOneRef());
  EXPECT_EQ(t->release(), 0);
  EXPECT_EQ(destroyed, 1);
}

TEST(RefCounting, ObjectRefCopyAssignAndReset) {
  int destroyed_a = 0, destroyed_b = 0;
  Tracked* a = new Tracked(&destroyed_a);
  Tracked* b = new Tracked(&destroyed_b);
  {
    Ref ra(a);  // 1
    EXPECT_EQ(CountOf(a), 1);
    Ref copy = ra;  // 2
    EXPECT_EQ(CountOf(a), 2);
    copy = ra;  // same object: unchanged
    EXPECT_EQ(CountOf(a), 2);
    copy.assign(a);
    EXPECT_EQ(CountOf(a), 2);

    Ref rb(b);
    copy = rb;  // a loses one, b gains one
    EXPECT_EQ(CountOf(a), 1);
    EXPECT_EQ(CountOf(b), 2);
    copy.reset();
    EXPECT_FALSE(copy);
    EXPECT_EQ(CountOf(b), 1);
    copy.reset();  // resetting an empty holder is harmless
  }
  EXPECT_EQ(destroyed_a, 1);
  EXPECT_EQ(destroyed_b, 1);
}

TEST(RefCounting, SelfAssignmentKeepsTheObjectAlive) {
  int destroyed = 0;
  Ref r(new Tracked(&destroyed));
  Ref& alias = r;
  r = alias;
  EXPECT_TRUE(r);
  EXPECT_EQ(destroyed, 0);
  EXPECT_TRUE(r->hasOneRef());
}

TEST(RefCounting, AssignmentTakesTheNewReferenceBeforeDroppingTheOld) {
  // Assigning an object reachable only through the old one must not
  // destroy it in between.
  int destroyed = 0;
  Tracked* t = new Tracked(&destroyed);
  Ref holder(t);
  Ref other = Ref::Adopt(nullptr);
  other.assign(t);
  holder.assign(t);
  holder.reset();
  EXPECT_EQ(destroyed, 0);
  other.reset();
  EXPECT_EQ(destroyed, 1);
}

TEST(RefCounting, AdoptAndDetachMoveOwnershipWithoutCounting) {
  int destroyed = 0;
  Tracked* t = new Tracked(&destroyed);
  t->addRef();
  Ref adopted = Ref::Adopt(t);
  EXPECT_TRUE(t->hasOneRef());
  host::ExtensionProvider* raw = adopted.detach();
  EXPECT_FALSE(adopted);
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(raw->release(), 0);
  EXPECT_EQ(destroyed, 1);
}

// Slot 3 as a host built with the Microsoft ABI calls it: flags 0 destroys
// in place, flags 1 destroys and frees; both answer the object's address.
TEST(RefCounting, SlotThreeDestroysAndFreesOnlyWhenAsked) {
  int destroyed = 0;
  alignas(Tracked) unsigned char storage[sizeof(Tracked)];
  Tracked* inPlace = new (storage) Tracked(&destroyed);
  host::ExtensionProvider* p = inPlace;
  EXPECT_EQ(p->scalarDeletingDestructor(0), static_cast<void*>(inPlace));
  EXPECT_EQ(destroyed, 1);
  Tracked* onHeap = new Tracked(&destroyed);
  p = onHeap;
  EXPECT_EQ(p->scalarDeletingDestructor(host::kDeleteAfterDestroy), static_cast<void*>(onHeap));
  EXPECT_EQ(destroyed, 2);
}

// A filter whose construction runs out of memory.
class Unmakeable final : public host::RefCounted<host::ExtensionVideoFilter, Unmakeable> {
 public:
  Unmakeable() { throw std::bad_alloc(); }
  void setEnabled(bool) override {}
  bool isEnabled() override { return true; }
  int setProperty(const char*, const char*, size_t) override { return 0; }
  int start(host::ObjectRef<host::FilterControl> c) override {
    c.reset();
    return 0;
  }
  int stop() override { return 0; }
  int processFrame(host::ObjectRef<host::HostVideoFrame> in,
                   host::ObjectRef<host::HostVideoFrame>&) override {
    in.reset();
    return 1;
  }
};
class UnmakeableProvider final
    : public host::SingleFilterProvider<Unmakeable, UnmakeableProvider> {
 public:
  UnmakeableProvider() : SingleFilterProvider("f", "log") {}
};

TEST(RefCounting, FactoryThrowsNothingIntoTheHost) {
  UnmakeableProvider provider;
  host::ObjectRef<host::ExtensionVideoFilter> out;
  EXPECT_NO_THROW(provider.createVideoFilter(out, "f"));
  EXPECT_FALSE(out);
}

TEST(FrameDataRecord, PresetsOnAZeroedRecord) {
  host::FrameDataRecord r;
  std::memset(&r, 0xAB, sizeof(r));
  host::PrepareFrameDataRecord(&r);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&r);
  auto int_at = [&](size_t off) {
    int32_t v;
    std::memcpy(&v, bytes + off, 4);
    return v;
  };
  EXPECT_EQ(int_at(108), 2);
  EXPECT_EQ(int_at(112), 2);
  EXPECT_EQ(int_at(116), 2);
  EXPECT_EQ(int_at(120), 0);
  for (size_t off = 0; off < sizeof(r); ++off) {
    if (off >= 108 && off < 120) continue;
    ASSERT_EQ(bytes[off], 0) << "byte " << off;
  }
}

}  // namespace
