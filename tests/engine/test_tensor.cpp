// Tensor storage: alignment, zero fill, growth, borrowing; a network
// reshaped to larger inputs with every output written in full.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "engine/cpu_info.h"
#include "engine/tensor.h"
#include "platform/cpu_features.h"
#include "tests/engine/engine_test_util.h"
#include "tools/netrun/network.h"

namespace {

bool Aligned(const void* p) { return reinterpret_cast<uintptr_t>(p) % 64 == 0; }

TEST(TensorStorage, BuffersAlignedAndZeroed) {
  engine::Tensor t;
  EXPECT_EQ(t.ensure_host(), nullptr);  // no shape yet
  t.set_shape(1, 3, 5, 7);
  float* f = t.ensure_host();
  uint16_t* h = t.ensure_half();
  uint8_t* u = t.ensure_u8();
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(Aligned(f) && Aligned(h) && Aligned(u));
  for (size_t i = 0; i < 105; ++i) EXPECT_EQ(f[i], 0.f);
  EXPECT_EQ(t.scale[0], 1.f);
  EXPECT_EQ(t.mean[2], 0.f);
}

TEST(TensorStorage, GrowsForLargerShapeKeepsForSmaller) {
  engine::Tensor t;
  t.set_shape(1, 2, 2, 2);
  float* first = t.ensure_host();
  std::memset(first, 0, 8 * sizeof(float));
  t.set_shape(1, 1, 2, 2);
  EXPECT_EQ(t.ensure_host(), first);  // fits: kept
  t.set_shape(1, 64, 64, 3);
  float* grown = t.ensure_host();
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(t.capacity_data, 64u * 64u * 3u);
  std::memset(grown, 0, t.capacity_data * sizeof(float));  // ASan checks the size
  t.count = 5;  // an explicit count overrides the dimensions
  EXPECT_EQ(t.elements(), 5u);
}

TEST(TensorStorage, BorrowedBuffersStayWithTheirOwner) {
  auto owner = std::make_unique<engine::Tensor>();
  owner->set_shape(1, 4, 4, 4);
  owner->ensure_host()[3] = 7.f;
  owner->ensure_half();
  {
    engine::Tensor view;
    view.set_shape(1, 4, 4, 4);
    view.ensure_host();  // its own buffer, freed when borrowing
    view.borrow_host(*owner);
    EXPECT_TRUE(view.borrowed && view.borrowed2);
    EXPECT_EQ(view.ensure_host()[3], 7.f);
    view.set_shape(1, 8, 8, 8);  // too small now: an own buffer, owner untouched
    EXPECT_NE(view.ensure_host(), owner->host_data);
    EXPECT_FALSE(view.borrowed);
  }
  EXPECT_EQ(owner->host_data[3], 7.f);
}

TEST(TensorStorage, SqueezeRunLendsInputBuffers) {
  enginetest::Bench b;
  engine::Tensor& in = b.Input("in", 1, 2, 2, 3);
  in.ensure_host()[5] = 2.5f;
  engine::Layer* sq = b.Add({"Squeeze", {"in", "out"}, {}, {}});
  ASSERT_TRUE(sq->reshape(b.env));
  ASSERT_TRUE(sq->run(b.env));
  engine::Tensor& out = b.tensors["out"];
  EXPECT_EQ(out.host_data, in.host_data);
  EXPECT_TRUE(out.borrowed);
  EXPECT_EQ(out.host_data[5], 2.5f);
}

// Every output of every layer written in full after each reshape.
void TouchAll(netrun::Network& net) {
  for (engine::Layer* l : net.layers)
    for (engine::Tensor* t : l->outputs) {
      float* p = t->ensure_host();
      ASSERT_NE(p, nullptr) << l->name;
      std::memset(p, 0xA5, t->elements() * sizeof(float));
    }
}

TEST(TensorStorage, NetworkReshapedLargerAndAgain) {
  netrun::NetDescription desc;
  std::string error;
  ASSERT_TRUE(netrun::LoadNetDescription(OXRIN_EXAMPLES_DIR "/segmenter.json", &desc, &error))
      << error;
  netrun::Network net;
  ASSERT_TRUE(net.Build(desc, &error)) << error;
  engine::core::RunEnv env;
  ASSERT_TRUE(net.Reshape(env, &error)) << error;
  TouchAll(net);
  const struct {
    int64_t h, w;
    const char* mask;
  } steps[] = {{48, 64, "1x48x64x1"}, {100, 36, "1x100x36x1"}, {24, 32, "1x24x32x1"}};
  for (const auto& s : steps) {
    netrun::NpyArray a;
    a.shape = {1, s.h, s.w, 3};
    a.f32.assign(static_cast<size_t>(s.h * s.w * 3), 0.5f);
    ASSERT_TRUE(net.SetInput(a, &error)) << error;
    ASSERT_TRUE(net.Reshape(env, &error)) << error;
    EXPECT_EQ(enginetest::ShapeOf(net.tensors["mask"]), s.mask);
    TouchAll(net);
  }
}

TEST(CpuPath, GenericCpuForcesPlainPath) {
  engine::core::RunEnv env;
  env.generic_cpu = true;
  EXPECT_FALSE(engine::use_wide_cpu_path(env));
  env.generic_cpu = false;
  const engine::CpuInfo& info = engine::cpu_info();
  const uint32_t ecx = platform::GetCpuFeatures().leaf1_ecx;
  const bool avx_fma = (ecx >> 28 & 1) && (ecx >> 12 & 1);
  // The OS-state check may only take the wide path away.
  if (!avx_fma) {
    EXPECT_FALSE(engine::use_wide_cpu_path(env));
  }
  EXPECT_EQ(&engine::cpu_info(), &info);
}

}  // namespace
