// Host-side agreement of packing, scaling and program text: pure functions
// of the device facts, so every device family is checked on this machine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "jnd/jnd_filter.h"
#include "jnd/jnd_packing.h"
#include "jnd/jnd_program.h"
#include "jnd/kernel_group_cfg.h"
#include "opencl/half.h"

namespace {

using jnd::JndPackingMode;

// A set whose stored values encode their own position, so repacking
// mistakes show up as wrong numbers.
jnd::JndWeightSetData Numbered() {
  jnd::JndWeightSetData s{};
  for (int i = 0; i < 36; ++i) s.conv1Weights[i] = 1000.0f + i;
  for (int i = 0; i < 4; ++i) s.conv1Bias[i] = 2000.0f + i;
  for (int i = 0; i < 144; ++i) s.conv2Weights[i] = 3000.0f + i;
  for (int i = 0; i < 4; ++i) s.conv2Bias[i] = 4000.0f + i;
  for (int i = 0; i < 36; ++i) s.conv3Weights[i] = 5000.0f + i;
  s.conv3Bias[0] = 6000.0f;
  s.conv3Bias[1] = s.conv3Bias[2] = s.conv3Bias[3] = -1.0f;  // never read
  return s;
}

TEST(JndPacking, TapMajorLayoutWithBiasesAtTheEnd) {
  const jnd::JndWeightSetData s = Numbered();
  const jnd::JndPackedFloats p = jnd::PackJndWeights(jnd::WeightsOf(s), JndPackingMode{});
  ASSERT_EQ(p.conv1.size(), 40u);
  ASSERT_EQ(p.conv2.size(), 148u);
  ASSERT_EQ(p.conv3.size(), 40u);
  // conv1 (ky=1, kx=2, oc=3): stored ((3*1+0)*3+1)*3+2 = 32, packed (5)*4+3 = 23.
  EXPECT_EQ(p.conv1[23], 1032.0f);
  EXPECT_EQ(p.conv1[36], 2000.0f);
  // conv2 (ky=2, kx=0, ic=1, oc=2): stored ((2*4+1)*3+2)*3+0 = 87, packed ((6)*4+1)*4+2 = 102.
  EXPECT_EQ(p.conv2[102], 3087.0f);
  EXPECT_EQ(p.conv2[147], 4003.0f);
  // conv3 (ky=0, kx=1, ic=3): stored (3*3+0)*3+1 = 28, packed 1*4+3 = 7.
  EXPECT_EQ(p.conv3[7], 5028.0f);
  for (int i = 36; i < 40; ++i) EXPECT_EQ(p.conv3[i], 6000.0f);
}

struct FactorCase {
  bool quantised, bufferWrites;
  float conv1, conv2Weights, conv2Bias, conv3Weights;
};

TEST(JndPacking, ActivationScalingPerMode) {
  const FactorCase cases[] = {
      {true, true, 127.5f, 255.0f, 127.5f, 2.0f},
      {true, false, 0.5f, 1.0f, 0.5f, 2.0f},
      {false, true, 1.0f, 1.0f, 1.0f, 1.0f},
      {false, false, 1.0f, 1.0f, 1.0f, 1.0f},
  };
  const jnd::JndWeightSetData s = Numbered();
  for (const FactorCase& c : cases) {
    JndPackingMode m;
    m.quantised = c.quantised;
    m.bufferWrites = c.bufferWrites;
    m.s1 = m.s2 = c.quantised ? 0.5f : 1.0f;
    const jnd::JndPackedFloats p = jnd::PackJndWeights(jnd::WeightsOf(s), m);
    SCOPED_TRACE(::testing::Message() << "quantised " << c.quantised << " buffers " << c.bufferWrites);
    EXPECT_FLOAT_EQ(p.conv1[0], 1000.0f * c.conv1);
    EXPECT_FLOAT_EQ(p.conv1[36], 2000.0f * c.conv1);
    EXPECT_FLOAT_EQ(p.conv2[0], 3000.0f * c.conv2Weights);
    EXPECT_FLOAT_EQ(p.conv2[144], 4000.0f * c.conv2Bias);
    EXPECT_FLOAT_EQ(p.conv3[0], 5000.0f * c.conv3Weights);
    // The conv3 bias is never scaled.
    for (int i = 36; i < 40; ++i) EXPECT_EQ(p.conv3[i], 6000.0f);
  }
}

TEST(JndPacking, DeviceBytesAreFloatsOrTruncatedHalves) {
  jnd::JndWeightSetData s{};
  s.conv1Weights[0] = 1.0f + 1.0f / 2048.0f;  // between two halves: truncates to 1.0
  JndPackingMode m;
  const jnd::JndPackedFloats p = jnd::PackJndWeights(jnd::WeightsOf(s), m);
  const jnd::JndPackedBytes f = jnd::ToDeviceBytes(p, m);
  EXPECT_EQ(f.conv1.size(), 160u);
  EXPECT_EQ(f.conv2.size(), 592u);
  EXPECT_EQ(f.conv3.size(), 160u);
  m.fp16 = true;
  const jnd::JndPackedBytes h = jnd::ToDeviceBytes(p, m);
  EXPECT_EQ(h.conv1.size(), 80u);
  EXPECT_EQ(h.conv2.size(), 296u);
  EXPECT_EQ(h.conv3.size(), 80u);
  uint16_t first;
  std::memcpy(&first, h.conv1.data(), 2);
  EXPECT_EQ(first, 0x3C00);
}

// Host plan against kernel text for every device family.
TEST(JndDevicePlan, HostAndKernelTextAgree) {
  for (int vendor : {0, 7, 8})
    for (bool arm : {false, true})
      for (bool fp16 : {false, true})
        for (bool quantised : {false, true}) {
          SCOPED_TRACE(::testing::Message() << "vendor " << vendor << " arm " << arm << " fp16 "
                                            << fp16 << " quantised " << quantised);
          const jnd::JndDevicePlan plan = jnd::PlanForDevice(vendor, arm, fp16, quantised);
          const std::string text = jnd::AssembleJndProgram(plan.variant, quantised, plan.bufferOut);
          const bool qualcomm = vendor == 7;
          EXPECT_EQ(plan.variant, vendor == 7   ? jnd::JndVariant::kQualcomm
                                  : vendor == 8 ? jnd::JndVariant::kImagination
                                                : jnd::JndVariant::kGeneric);
          // Whenever the host binds buffers for the intermediates, the kernels
          // declare buffers for them.
          const bool host_buffers = qualcomm || plan.bufferOut;
          EXPECT_EQ(plan.packing.bufferWrites, host_buffers);
          EXPECT_EQ(text.find("#define USE_BUFFER_OUT") != std::string::npos, host_buffers && !qualcomm);
          if (qualcomm) {
            EXPECT_NE(text.find("__global DATA_TYPE *dstImg"), std::string::npos);
          }
          // Weights: the kernels read DATA_TYPE (half exactly when fp16), the
          // host packs halves exactly when fp16.
          EXPECT_EQ(text.find("__constant half"), std::string::npos);
          EXPECT_EQ(plan.packing.fp16, fp16);
          EXPECT_NE(text.find(quantised ? "#define QUANT 1" : "#define QUANT 0"), std::string::npos);
          const std::string marker = "__kernel void jnd_kernel_version_105(__global float *a) { } \r\n";
          EXPECT_EQ(text.rfind(marker), text.size() - marker.size());
          EXPECT_FLOAT_EQ(plan.packing.s1, quantised ? 0.5f : 1.0f);
        }
}

// The parameters of kernel `name` in text, split at the top-level commas.
std::vector<std::string> KernelParameters(const std::string& text, const std::string& name) {
  std::vector<std::string> params;
  size_t at = text.find("void " + name + "(");
  if (at == std::string::npos) return params;
  at = text.find('(', at) + 1;
  std::string param;
  for (int depth = 0; at < text.size(); ++at) {
    const char ch = text[at];
    if (ch == ')' && depth == 0) break;
    if (ch == ',' && depth == 0) {
      params.push_back(param);
      param.clear();
      continue;
    }
    depth += ch == '(' ? 1 : ch == ')' ? -1 : 0;
    param += ch;
  }
  params.push_back(param);
  return params;
}

// Each variant's argument lists against its kernels' parameters: as many,
// images where the host binds images, the weights where the kernel reads
// them, integers for the extents.
TEST(JndVariantDesc, ArgumentListsMatchTheKernelParameters) {
  using jnd::JndArg;
  const char* const kernels[jnd::kJndKernels] = {jnd::kJndConv1Kernel, jnd::kJndConv2Kernel,
                                                 jnd::kJndConv3Kernel};
  for (jnd::JndVariant v : {jnd::JndVariant::kGeneric, jnd::JndVariant::kQualcomm,
                            jnd::JndVariant::kImagination}) {
    const jnd::JndVariantDesc& desc = jnd::VariantDesc(v);
    EXPECT_EQ(desc.variant, v);
    const std::string& text = jnd::JndVariantSource(v);
    for (int k = 0; k < jnd::kJndKernels; ++k) {
      SCOPED_TRACE(::testing::Message() << "variant " << static_cast<int>(v) << " " << kernels[k]);
      const std::vector<std::string> params = KernelParameters(text, kernels[k]);
      int count = 0;
      while (count < jnd::kJndMaxArgs && desc.args[k].at[count] != JndArg::kEnd) ++count;
      ASSERT_EQ(static_cast<size_t>(count), params.size());
      for (int i = 0; i < count; ++i) {
        const JndArg a = desc.args[k].at[i];
        const std::string& p = params[i];
        const bool image = a == JndArg::kInputImage || a == JndArg::kInter1Image || a == JndArg::kInter2Image;
        const bool extent = a == JndArg::kWidth || a == JndArg::kHeight || a == JndArg::kStride ||
                            a == JndArg::kInter1Row || a == JndArg::kInter2Row;
        EXPECT_EQ(p.find("image2d_t") != std::string::npos, image) << i << ": " << p;
        EXPECT_EQ(p.find("weight_bias") != std::string::npos, a == JndArg::kWeights) << i << ": " << p;
        EXPECT_EQ(p.find("int ") == p.find_first_not_of(" \r\n") && !p.empty(), extent) << i << ": " << p;
      }
    }
  }
}

TEST(JndProgram, StartsWithTheSwitchLinesInOrder) {
  const std::string g = jnd::AssembleJndProgram(jnd::JndVariant::kGeneric, true, true);
  const std::string switches = "\r\n #define QUANT 1 \r\n\r\n #define USE_BUFFER_OUT \r\n";
  EXPECT_EQ(g.compare(0, switches.size(), switches), 0) << g.substr(0, 60);
  const std::string q = jnd::AssembleJndProgram(jnd::JndVariant::kQualcomm, false, true);
  EXPECT_EQ(q.compare(0, 21, "\r\n #define QUANT 0 \r\n"), 0);
  EXPECT_EQ(q.find("USE_BUFFER_OUT \r\n"), std::string::npos);
}

TEST(JndCacheName, DropsTheExtensionAndAddsTheDevice) {
  EXPECT_EQ(jnd::JndCacheFileName("x/jnd.bin", "Mali-G76"), "x/jnd_Mali-G76.bin");
  EXPECT_EQ(jnd::JndCacheFileName("a.bin", "GPU X"), "a_GPU X.bin");
  EXPECT_EQ(jnd::JndCacheFileName("ab", "GPU X"), "ab_GPU X.bin");
  EXPECT_EQ(jnd::JndCacheFileName("abcd", "G"), "_G.bin");
}

TEST(JndGlobalSizes, EveryPixelHasAWorkItem) {
  const struct {
    jnd::JndVariant v;
    int w, h;
    size_t c1x, c1y, c2x, c2y, c3x, c3y;
  } cases[] = {
      {jnd::JndVariant::kGeneric, 1280, 720, 320, 720, 640, 360, 640, 360},
      {jnd::JndVariant::kGeneric, 641, 361, 161, 361, 321, 181, 321, 181},
      {jnd::JndVariant::kGeneric, 1, 1, 1, 1, 1, 1, 1, 1},
      {jnd::JndVariant::kImagination, 854, 480, 854, 480, 427, 240, 427, 240},
      {jnd::JndVariant::kQualcomm, 1280, 720, 320, 720, 640, 360, 1280, 180},
      {jnd::JndVariant::kQualcomm, 1278, 720, 320, 720, 639, 360, 1278, 180},
      {jnd::JndVariant::kQualcomm, 3, 5, 1, 5, 2, 3, 3, 2},
  };
  for (const auto& c : cases) {
    const jnd::JndGlobalSizes g = jnd::GlobalSizesFor(c.v, c.w, c.h);
    EXPECT_EQ(g.conv1[0], c.c1x) << c.w << "x" << c.h;
    EXPECT_EQ(g.conv1[1], c.c1y);
    EXPECT_EQ(g.conv2[0], c.c2x);
    EXPECT_EQ(g.conv2[1], c.c2y);
    EXPECT_EQ(g.conv3[0], c.c3x);
    EXPECT_EQ(g.conv3[1], c.c3y);
  }
}

// The Qualcomm input image holds whole texels of 4 pixels: a partial last
// texel is filled with the row's last pixel.
TEST(JndQualcommInput, RowsPaddedToWholeTexelsWithTheLastPixel) {
  const struct {
    int w, stride, texels;
    std::vector<uint8_t> padded;  // both rows
  } cases[] = {
      {4, 6, 1, {1, 2, 3, 4, 11, 12, 13, 14}},
      {5, 6, 2, {1, 2, 3, 4, 5, 5, 5, 5, 11, 12, 13, 14, 15, 15, 15, 15}},
      {3, 6, 1, {1, 2, 3, 3, 11, 12, 13, 13}},
      {1, 1, 1, {1, 1, 1, 1, 11, 11, 11, 11}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> plane(static_cast<size_t>(c.stride) * 2, 99);
    for (int x = 0; x < c.w; ++x) {
      plane[x] = static_cast<uint8_t>(1 + x);
      plane[c.stride + x] = static_cast<uint8_t>(11 + x);
    }
    EXPECT_EQ(jnd::QualcommInputTexels(c.w), c.texels) << c.w;
    std::vector<uint8_t> out(static_cast<size_t>(c.texels) * 4 * 2, 0);
    jnd::PadRowsToTexels(plane.data(), c.w, 2, c.stride, out.data());
    EXPECT_EQ(out, c.padded) << c.w;
  }
}

TEST(JndWorkSizeTables, RowsAndMatchingRules) {
  EXPECT_EQ(jnd::kKernelGroupCfgQuant[9].deviceName, "GeForce RTX 2070 SUPER");
  EXPECT_EQ(jnd::kKernelGroupCfgFloat[6].deviceVersion, "unkown");
  EXPECT_EQ(jnd::kKernelGroupCfgFloat[12].deviceVersion, "unknwon");
  EXPECT_EQ(jnd::kKernelGroupCfgQuant[0].deviceVersion, "OpenCL 1.2 ");
  EXPECT_EQ(jnd::kKernelGroupCfgQuant[18].kernels[1].local[0], 640u);
  // Adreno rows match by version only, others by exact name.
  const jnd::KernelGroupCfg& adreno640 = jnd::kKernelGroupCfgQuant[18];
  EXPECT_TRUE(jnd::RowMatchesDevice(adreno640, {7, "anything", "OpenCL 2.0 Adreno(TM) 640"}));
  EXPECT_FALSE(jnd::RowMatchesDevice(adreno640, {7, "QUALCOMM Adreno(TM)", "OpenCL 2.0 Adreno(TM) 630"}));
  EXPECT_FALSE(jnd::RowMatchesDevice(adreno640, {1, "Other GPU", "OpenCL 2.0 Adreno(TM) 640"}));
  EXPECT_TRUE(jnd::RowMatchesDevice(adreno640, {1, "QUALCOMM Adreno(TM)", "x"}));
  const jnd::KernelGroupCfg& hd620 = jnd::kKernelGroupCfgQuant[5];
  EXPECT_TRUE(jnd::RowMatchesDevice(hd620, {6, "Intel(R) HD Graphics 620", ""}));
  EXPECT_FALSE(jnd::RowMatchesDevice(hd620, {6, "Intel(R) HD Graphics 620 ", ""}));
  EXPECT_FALSE(jnd::RowMatchesDevice(hd620, {6, "intel(r) hd graphics 620", ""}));
  EXPECT_FALSE(jnd::RowMatchesDevice(hd620, {6, std::string("Intel(R) HD Graphics 620\0", 25), ""}));
}

TEST(JndWorkSizeTables, PrintedRowParsesBack) {
  jnd::KernelGroupCfg row;
  std::vector<std::string> labels;
  const std::string text =
      "{\"Mali-G76\", \"OpenCL 2.0 v1\", 3, {{\"conv1\", {2, 10, 1} },{\"conv2\", {80, 4, 1} },"
      "{\"conv3\", {4, 10, 1} }}};\n";
  ASSERT_TRUE(jnd::ParseKernelGroupRow(text, &row, &labels));
  EXPECT_EQ(row.deviceName, "Mali-G76");
  EXPECT_EQ(row.deviceVersion, "OpenCL 2.0 v1");
  EXPECT_EQ(row.kernelCount, 3);
  EXPECT_STREQ(row.kernels[1].label, "conv2");
  EXPECT_EQ(row.kernels[1].local[0], 80u);
  EXPECT_EQ(row.kernels[2].local[1], 10u);
  EXPECT_FALSE(jnd::ParseKernelGroupRow("{\"x\", \"y\", 3, {}};", &row, &labels));
}

}  // namespace
