// ClMemory: buffers, images, images over buffers and host transfers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture_stdout.h"
#include "engine_fixture.h"
#include "opencl/cl_memory.h"

namespace {

using opencl::ClMemory;

// ---- Layout arithmetic ---------------------------------------------------------

struct LayoutCase {
  size_t width, height;
  cl_channel_type type;
  cl_channel_order order;
  uint32_t pitchAlignment;
  size_t alignedWidth, byteSize, rowPitch, rowLength;
};
void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << c.width << "x" << c.height << "_type" << std::hex << c.type << "_order" << c.order
      << std::dec << "_align" << c.pitchAlignment;
}

class ImageOverBufferLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ImageOverBufferLayout, AlignedRowsAndSizes) {
  const LayoutCase c = GetParam();
  const opencl::ImageOverBufferLayout l =
      opencl::ComputeImageOverBufferLayout(c.width, c.height, c.type, c.order, c.pitchAlignment);
  EXPECT_EQ(l.alignedWidth, c.alignedWidth);
  EXPECT_EQ(l.byteSize, c.byteSize);
  EXPECT_EQ(l.rowPitch, c.rowPitch);
  EXPECT_EQ(l.rowLength, c.rowLength);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImageOverBufferLayout,
    ::testing::Values(LayoutCase{1000, 10, CL_HALF_FLOAT, CL_RGBA, 64, 1024, 81920, 8192, 4096},
                      LayoutCase{1000, 10, CL_FLOAT, CL_R, 64, 1024, 40960, 4096, 1024},
                      LayoutCase{1000, 10, CL_UNORM_INT8, CL_R, 0, 1000, 10000, 1000, 1000},
                      LayoutCase{3, 2, CL_UNORM_INT8, CL_RG, 1, 3, 12, 6, 6},
                      LayoutCase{5, 1, CL_UNSIGNED_INT16, CL_RGB, 4, 8, 48, 48, 24}));

TEST(CopyRows, PaddedSourceToPackedDestinationAndBack) {
  // Three rows of 4 bytes in a source with a pitch of 6.
  const unsigned char padded[18] = {1, 2, 3, 4, 99, 99, 5, 6, 7, 8, 99, 99, 9, 10, 11, 12, 99, 99};
  unsigned char packed[12] = {0};
  opencl::CopyRows(packed, 4, padded, 6, 4, 3);
  const unsigned char expected[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_EQ(0, std::memcmp(packed, expected, 12));
  unsigned char back[18];
  std::memset(back, 0, sizeof back);
  opencl::CopyRows(back, 6, packed, 4, 4, 3);
  const unsigned char expectedBack[18] = {1, 2, 3, 4, 0, 0, 5, 6, 7, 8, 0, 0, 9, 10, 11, 12, 0, 0};
  EXPECT_EQ(0, std::memcmp(back, expectedBack, 18));
}

// ---- On the device ---------------------------------------------------------------

class MemoryOnDevice : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    engine_ = new opencl::clEngine();
    ready_ = testutil::InitOnCpu(*engine_, false);
  }
  static void TearDownTestSuite() {
    delete engine_;
    engine_ = nullptr;
  }
  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "no OpenCL CPU device";
  }
  static opencl::clEngine* engine_;
  static bool ready_;
};
opencl::clEngine* MemoryOnDevice::engine_ = nullptr;
bool MemoryOnDevice::ready_ = false;

std::vector<unsigned char> Pattern(size_t n, unsigned seed) {
  std::vector<unsigned char> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>((i * 131 + seed * 17 + i / 7) & 0xFF);
  return v;
}

TEST_F(MemoryOnDevice, NewBufferOfOddSizeIsZeroFilled) {
  // The host content copied in is overwritten by the zero fill.
  std::vector<unsigned char> host(1001, 0xAB);
  ClMemory mem(engine_);
  testutil::CaptureStdout capture;
  ASSERT_TRUE(mem.CreateBuffer(1001, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, host.data()));
  std::vector<unsigned char> back(1001, 0x55);
  EXPECT_TRUE(mem.Read(back.data(), back.size(), false, true));
  EXPECT_EQ(capture.Finish(), "");  // no error line
  EXPECT_EQ(mem.byteSize, 1001);
  EXPECT_EQ(back, std::vector<unsigned char>(1001, 0));
}

TEST_F(MemoryOnDevice, BufferRoundTrips) {
  for (int w : {1, 3, 1001, 1280}) {
    for (int h : {1, 7, 720}) {
      const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
      ClMemory mem(engine_);
      ASSERT_TRUE(mem.CreateBuffer(n, CL_MEM_READ_WRITE));
      for (bool writeMap : {false, true}) {
        for (bool readMap : {false, true}) {
          const std::vector<unsigned char> src = Pattern(n, static_cast<unsigned>(w + h));
          std::vector<unsigned char> dst(n, 0);
          ASSERT_TRUE(mem.Write(src.data(), n, writeMap, true));
          ASSERT_TRUE(mem.Read(dst.data(), n, readMap, true));
          ASSERT_EQ(dst, src) << w << "x" << h << " map " << writeMap << readMap;
        }
      }
    }
  }
}

TEST_F(MemoryOnDevice, ImageRoundTripsWithPackedAndLongerHostRows) {
  for (int w : {1, 3, 1001, 1280}) {
    for (int h : {1, 7, 720}) {
      ClMemory mem(engine_);
      ASSERT_TRUE(mem.CreateImage(w, h, CL_UNORM_INT8, CL_R, CL_MEM_READ_WRITE));
      EXPECT_EQ(mem.width, w);
      EXPECT_EQ(mem.height, h);
      EXPECT_GE(mem.rowLength, w);
      for (int extra : {0, 5}) {
        const size_t rowLen = static_cast<size_t>(w + extra);
        for (bool useMap : {false, true}) {
          // Host rows of rowLen bytes, of which the first w are pixels.
          std::vector<unsigned char> host = Pattern(rowLen * static_cast<size_t>(h),
                                                    static_cast<unsigned>(w * 3 + h + extra));
          std::vector<unsigned char> expected;
          for (int y = 0; y < h; ++y) {
            expected.insert(expected.end(), host.begin() + static_cast<long>(y * rowLen),
                            host.begin() + static_cast<long>(y * rowLen) + w);
          }
          std::vector<unsigned char> back(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
          ASSERT_TRUE(mem.WriteImage(host.data(), CL_UNORM_INT8, rowLen, useMap, true))
              << w << "x" << h << " row " << rowLen << " map " << useMap;
          ASSERT_TRUE(mem.ReadImage(back.data(), useMap, true));
          ASSERT_EQ(back, expected) << w << "x" << h << " row " << rowLen << " map " << useMap;
        }
      }
    }
  }
}

TEST_F(MemoryOnDevice, ShortHostRowIsRefused) {
  ClMemory mem(engine_);
  ASSERT_TRUE(mem.CreateImage(16, 4, CL_UNORM_INT8, CL_RGBA, CL_MEM_READ_WRITE));
  std::vector<unsigned char> host(16 * 4 * 4, 1);
  // 63 channel elements per row where 64 are needed.
  EXPECT_FALSE(mem.WriteImage(host.data(), CL_UNORM_INT8, 63, false, true));
  EXPECT_FALSE(mem.WriteImage(host.data(), CL_UNORM_INT8, 63, true, true));
  EXPECT_TRUE(mem.WriteImage(host.data(), CL_UNORM_INT8, 64, true, true));
  EXPECT_TRUE(mem.WriteImage(host.data(), CL_UNORM_INT8, 0, false, true));  // packed
}

TEST_F(MemoryOnDevice, ImageOverBufferIsRefusedHereAndExternalBufferSurvives) {
  cl_mem external = engine_->CreateBuffer(64 * 8, CL_MEM_READ_WRITE, nullptr);
  ASSERT_NE(external, nullptr);
  {
    ClMemory mem(engine_);
    testutil::CaptureStdout capture;
    EXPECT_FALSE(mem.CreateImageOverBuffer(64, 8, CL_UNORM_INT8, CL_R, CL_MEM_READ_WRITE, external));
    EXPECT_NE(capture.Finish(), "");  // the refusal is logged by name
    EXPECT_TRUE(mem.externalBuffer);
    mem.Release();
    EXPECT_EQ(mem.buffer, nullptr);
    EXPECT_FALSE(mem.externalBuffer);
    EXPECT_EQ(mem.hostCachePolicy, opencl::kHostCacheWriteBack);
  }
  // Still alive: a transfer into it succeeds.
  std::vector<unsigned char> data(64 * 8, 7);
  EXPECT_TRUE(engine_->WriteBuffer(external, data.data(), data.size(), false, true));
  EXPECT_TRUE(engine_->WriteBuffer(external, data.data(), data.size(), true, true));
  clReleaseMemObject(external);
}

TEST_F(MemoryOnDevice, HostImportIsNotAvailable) {
  ClMemory mem(engine_);
  alignas(256) static unsigned char block[512];
  if (engine_->cacheLineSize > 1) {  // a device without a line size sets no rule
    testutil::CaptureStdout capture;
    EXPECT_FALSE(mem.ImportHostMemory(256, block + 1));  // misaligned: silent
    EXPECT_EQ(capture.Finish(), "");
  }
  testutil::CaptureStdout capture2;
  EXPECT_FALSE(mem.ImportHostMemory(256, block));
  EXPECT_EQ(capture2.Finish(), "import error!............\n");
  EXPECT_FALSE(mem.ImportHostImage(4, 4, CL_UNORM_INT8, CL_R, CL_MEM_READ_WRITE,
                                   opencl::kHostCacheIoCoherent));
  EXPECT_FALSE(mem.AttachImportedHost(256, opencl::kHostCacheWriteBack));
  EXPECT_FALSE(mem.hostMode);
}

}  // namespace
