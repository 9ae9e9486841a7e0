// The opt-in pixel remap of FishCorrectionVideoFilter: the camera model,
// a synthetic fisheye round trip, chroma at its own resolution, black outside
// the source, map reuse, and frames left alone without "remap".
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "fisheye/fish_correction_filter.h"
#include "fisheye/fish_lens_model.h"

namespace {

// M_PI is not standard C++ (MinGW leaves it out in strict mode).
constexpr double kPi = 3.14159265358979323846;

using fisheye::FishCorrectionParams;
using fisheye::FishCorrectionVideoFilter;
using fisheye::FishLensModel;

// A 4:2:0 host frame owned by the test.  Rows may be padded past the width;
// the chroma planes are published in the record only when asked to.
class Frame420 : public host::HostVideoFrame {
 public:
  Frame420(int w, int h, bool publishChroma = true, int padding = 0)
      : w(w), h(h), cw((w + 1) / 2), ch((h + 1) / 2), pitch(w + padding),
        cpitch(cw + padding), publish(publishChroma),
        luma(static_cast<size_t>(pitch) * h, 0xEE), cb(static_cast<size_t>(cpitch) * ch, 0xEE),
        cr(static_cast<size_t>(cpitch) * ch, 0xEE) {}
  void addRef() override { ++refs; }
  int release() override { return --refs > 0 ? 1 : 0; }
  void reserved2() override {}
  void reserved3() override {}
  int getFrameData(host::FrameDataRecord* r) override {
    r->luma = luma.data();
    r->width = w;
    r->height = h;
    if (publish) {
      r->cb = cb.data();
      r->cr = cr.data();
      r->lumaPitch = pitch;
      r->chromaPitch = cpitch;
      r->chromaWidth = cw;
      r->chromaHeight = ch;
    }
    return 0;
  }
  uint8_t& Y(int x, int y) { return luma[static_cast<size_t>(y) * pitch + x]; }
  uint8_t& U(int x, int y) { return cb[static_cast<size_t>(y) * cpitch + x]; }
  uint8_t& V(int x, int y) { return cr[static_cast<size_t>(y) * cpitch + x]; }
  void Fill(uint8_t y, uint8_t u, uint8_t v) {
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) Y(i, j) = y;
    for (int j = 0; j < ch; ++j)
      for (int i = 0; i < cw; ++i) {
        U(i, j) = u;
        V(i, j) = v;
      }
  }

  int w, h, cw, ch, pitch, cpitch;
  bool publish;
  std::vector<uint8_t> luma, cb, cr;
  int refs = 0;
};

int Set(FishCorrectionVideoFilter& f, const std::string& json) {
  return f.setProperty("fishCorrection", json.c_str(), json.size());
}

int Feed(FishCorrectionVideoFilter& f, Frame420& frame) {
  host::ObjectRef<host::HostVideoFrame> out;
  return f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out);
}

// A started filter with the given property value.
void Prepare(FishCorrectionVideoFilter& f, const std::string& json) {
  f.start(host::ObjectRef<host::FilterControl>());
  ASSERT_EQ(Set(f, json), 0) << json;
}

FishCorrectionParams Defaults(int w, int h) {
  FishCorrectionParams p = fisheye::DefaultLensParams();
  p.width = w;
  p.height = h;
  return p;
}

// ---- The camera model ----------------------------------------------------

struct ModelCase {
  const char* name;
  FishCorrectionParams params;
  double x, y;        // view point
  bool hasSource;
  double u, v;        // expected source point
};

FishCorrectionParams With(FishCorrectionParams p, float FishCorrectionParams::*field, float v) {
  p.*field = v;
  return p;
}

FishCorrectionParams PinholeLens() {
  FishCorrectionParams p = Defaults(1280, 720);
  p.ss0 = 1;
  p.ss2 = p.ss3 = p.ss4 = 0;
  return p;
}

void PrintTo(const ModelCase& c, std::ostream* os) { *os << c.name; }

class LensModelPoints : public ::testing::TestWithParam<ModelCase> {};

TEST_P(LensModelPoints, SourceOfAViewPoint) {
  const ModelCase c = GetParam();
  const FishLensModel model(c.params);
  ASSERT_TRUE(model.valid()) << c.name;
  double u = -1, v = -1;
  ASSERT_EQ(model.sourcePoint(c.x, c.y, &u, &v), c.hasSource) << c.name;
  if (!c.hasSource) return;
  EXPECT_NEAR(u, c.u, 0.01) << c.name;
  EXPECT_NEAR(v, c.v, 0.01) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LensModelPoints,
    ::testing::Values(
        ModelCase{"view centre sees the lens centre", Defaults(1280, 720), 640, 360, true, 627.2, 345.6},
        ModelCase{"45 degrees to the right", Defaults(1280, 720), 1216, 360, true, 1046.656, 345.6},
        ModelCase{"top middle", Defaults(1280, 720), 640, 0, true, 627.2, 27.147},
        ModelCase{"top-left corner", Defaults(1280, 720), 0, 0, true, 221.989, 117.669},
        ModelCase{"near the bottom-right corner", Defaults(1280, 720), 1279, 719, true, 1032.253, 573.165},
        ModelCase{"4:3 frame corner", Defaults(640, 480), 0, 0, true, 104.87, 73.853},
        ModelCase{"half-height view centre", With(Defaults(1280, 720), &FishCorrectionParams::splitHeight, 0.5f),
                  640, 180, true, 627.2, 345.6},
        ModelCase{"half-height view", With(Defaults(1280, 720), &FishCorrectionParams::splitHeight, 0.5f),
                  640, 100, true, 627.2, 253.659},
        ModelCase{"below a half-height view", With(Defaults(1280, 720), &FishCorrectionParams::splitHeight, 0.5f),
                  640, 400, false, 0, 0},
        ModelCase{"longer lens doubles the radius", With(Defaults(1280, 720), &FishCorrectionParams::focalLength, 62.0f),
                  800, 360, true, 968.791, 345.6},
        ModelCase{"longer lens, source past the frame", With(Defaults(1280, 720), &FishCorrectionParams::focalLength, 62.0f),
                  1216, 360, false, 0, 0},
        ModelCase{"pinhole lens", PinholeLens(), 800, 400, true, 831.173, 396.593},
        ModelCase{"pinhole lens, beyond its branch", PinholeLens(), 0, 0, false, 0, 0}),
    [](const ::testing::TestParamInfo<ModelCase>& info) { return "Row" + std::to_string(info.index); });

TEST(LensModel, DefaultLensCoversHalfASphereAcrossA16by9Frame) {
  const FishLensModel model(Defaults(1280, 720));
  // 90 degrees at rho = 0.8516 (the frame's half-diagonal is rho = 1).
  EXPECT_NEAR(model.angleOfRadius(0.8516), kPi / 2, 1e-3);
  EXPECT_NEAR(model.angleOfRadius(0.5), 0.66343, 1e-4);
  EXPECT_GT(model.maxAngle(), kPi / 2);
}

struct InvalidCase {
  const char* name;
  FishCorrectionParams params;
};

void PrintTo(const InvalidCase& c, std::ostream* os) { *os << c.name; }

class LensModelInvalid : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(LensModelInvalid, DescribesNoView) {
  EXPECT_FALSE(FishLensModel(GetParam().params).valid()) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LensModelInvalid,
    ::testing::Values(
        InvalidCase{"ss0 zero", With(Defaults(64, 48), &FishCorrectionParams::ss0, 0.0f)},
        InvalidCase{"ss0 negative", With(Defaults(64, 48), &FishCorrectionParams::ss0, -1.0f)},
        InvalidCase{"pol_focal_length zero", With(Defaults(64, 48), &FishCorrectionParams::polFocalLength, 0.0f)},
        InvalidCase{"focal_length negative", With(Defaults(64, 48), &FishCorrectionParams::focalLength, -31.0f)},
        InvalidCase{"scale_factor zero", With(Defaults(64, 48), &FishCorrectionParams::scaleFactor, 0.0f)},
        InvalidCase{"split_height zero", With(Defaults(64, 48), &FishCorrectionParams::splitHeight, 0.0f)},
        InvalidCase{"ss3 infinite", With(Defaults(64, 48), &FishCorrectionParams::ss3, INFINITY)},
        InvalidCase{"no frame", Defaults(0, 0)}),
    [](const ::testing::TestParamInfo<InvalidCase>& info) { return "Row" + std::to_string(info.index); });

// ---- Round trip ----------------------------------------------------------
//
// A soft checkerboard on the view plane, seen through the lens written out
// here in the forward direction (frame point -> ray -> view plane), then
// corrected by the filter.

constexpr double kSquare = 48.0;

double Soft(double t) { return std::clamp(3.0 * std::sin(kPi * t / kSquare), -1.0, 1.0); }
double Board(double x, double y) { return 128.0 + 90.0 * Soft(x) * Soft(y); }

// The fisheye picture of the board for the default lens at w x h.
void RenderFisheye(Frame420& frame) {
  const double w = frame.w, h = frame.h;
  const double ss[5] = {0.9375, 0, -2.944, 5.7344, -4.4564};
  const double cx = 0.49 * w, cy = 0.48 * h, unit = 0.5 * std::hypot(w, h);
  const double focal = 0.45 * w;
  for (int j = 0; j < frame.h; ++j) {
    for (int i = 0; i < frame.w; ++i) {
      const double dx = (i + 0.5 - cx) / unit, dy = (j + 0.5 - cy) / unit;
      const double rho = std::hypot(dx, dy);
      const double z = ss[0] + rho * rho * (ss[2] + rho * (ss[3] + rho * ss[4]));
      double value = 16;
      if (z > 0) value = Board(w / 2 + focal * dx / z, h / 2 + focal * dy / z);
      frame.Y(i, j) = static_cast<uint8_t>(std::lround(value));
    }
  }
}

class RoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    RenderFisheye(frame);
    FishCorrectionVideoFilter f;
    Prepare(f, R"({"enable":1,"remap":1})");
    ASSERT_EQ(Feed(f, frame), 0);
  }
  Frame420 frame{1280, 720};
};

TEST_F(RoundTrip, CorrectedFrameMatchesTheBoard) {
  // The default view lies inside the frame; leave a margin of 2 pixels.
  double sq = 0;
  long n = 0;
  for (int j = 2; j < frame.h - 2; ++j) {
    for (int i = 2; i < frame.w - 2; ++i) {
      const double e = frame.Y(i, j) - Board(i + 0.5, j + 0.5);
      sq += e * e;
      ++n;
    }
  }
  const double psnr = 10.0 * std::log10(255.0 * 255.0 / (sq / n));
  EXPECT_GE(psnr, 30.0);
  RecordProperty("psnr_db", std::to_string(psnr));
}

// Edges of the board near the frame border, where the lens bends most.
struct EdgeCase {
  const char* name;
  bool horizontal;
  double at;  // the edge's row (horizontal) or column (vertical)
};

void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.name; }

class RoundTripEdges : public RoundTrip, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(RoundTripEdges, StraightEdgesComeOutStraight) {
  const EdgeCase c = GetParam();
  // Along the edge, in the middle of each square beside it, find where the
  // picture crosses mid-grey and fit a line through those points.
  std::vector<double> along, across;
  const int length = c.horizontal ? frame.w : frame.h;
  for (int a = 4; a < length - 4; ++a) {
    const double s = Soft(a + 0.5);
    if (std::fabs(s) < 1.0) continue;
    const int base = static_cast<int>(c.at);
    auto value = [&](int k) {
      const double v = c.horizontal ? frame.Y(a, k) : frame.Y(k, a);
      return (v - 128.0) * s;
    };
    for (int k = base - 12; k < base + 12; ++k) {
      const double v0 = value(k), v1 = value(k + 1);
      if ((v0 > 0) != (v1 > 0)) {
        along.push_back(a + 0.5);
        across.push_back(k + 0.5 + v0 / (v0 - v1));
        break;
      }
    }
  }
  ASSERT_GT(along.size(), static_cast<size_t>(length / 3)) << c.name;
  double ma = 0, mc = 0;
  for (size_t k = 0; k < along.size(); ++k) {
    ma += along[k];
    mc += across[k];
  }
  ma /= along.size();
  mc /= along.size();
  double saa = 0, sac = 0;
  for (size_t k = 0; k < along.size(); ++k) {
    saa += (along[k] - ma) * (along[k] - ma);
    sac += (along[k] - ma) * (across[k] - mc);
  }
  const double slope = sac / saa;
  double worst = 0;
  for (size_t k = 0; k < along.size(); ++k)
    worst = std::max(worst, std::fabs(across[k] - (mc + slope * (along[k] - ma))));
  EXPECT_LT(worst, 1.0) << c.name;
  RecordProperty("worst_residual_px", std::to_string(worst));
  EXPECT_NEAR(mc, c.at, 1.0) << c.name << ": the edge is not where the board has it";
}

INSTANTIATE_TEST_SUITE_P(Cases, RoundTripEdges,
                         ::testing::Values(EdgeCase{"top", true, 48}, EdgeCase{"bottom", true, 672},
                                           EdgeCase{"left", false, 48}, EdgeCase{"right", false, 1248}),
                         [](const ::testing::TestParamInfo<EdgeCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- Chroma, black, pitch ------------------------------------------------

struct ChromaCase {
  int w, h;
  const char* json;
};

void PrintTo(const ChromaCase& c, std::ostream* os) { *os << c.w << "x" << c.h << " " << c.json; }

class RemapChroma : public ::testing::TestWithParam<ChromaCase> {};

// Chroma ramps go through the model at chroma resolution: each chroma pixel
// takes the ramp value at its own source point, or black without one.
TEST_P(RemapChroma, EachPlaneAtItsOwnResolution) {
  const ChromaCase c = GetParam();
  Frame420 frame(c.w, c.h);
  for (int j = 0; j < frame.ch; ++j)
    for (int i = 0; i < frame.cw; ++i) {
      frame.U(i, j) = static_cast<uint8_t>(20 + 4 * i);
      frame.V(i, j) = static_cast<uint8_t>(20 + 6 * j);
    }
  FishCorrectionVideoFilter f;
  Prepare(f, c.json);
  ASSERT_EQ(Feed(f, frame), 0);

  FishCorrectionParams p = f.params();
  const FishLensModel model(p);
  ASSERT_TRUE(model.valid());
  long black = 0, mapped = 0;
  for (int j = 0; j < frame.ch; ++j) {
    for (int i = 0; i < frame.cw; ++i) {
      double u = 0, v = 0;
      const bool has = model.sourcePoint(2.0 * i + 1, 2.0 * j + 1, &u, &v);
      const double sx = u / 2 - 0.5, sy = v / 2 - 0.5;
      if (!has || sx < -0.5 || sy < -0.5 || sx >= frame.cw - 0.5 || sy >= frame.ch - 0.5) {
        EXPECT_EQ(frame.U(i, j), 128) << i << "," << j;
        EXPECT_EQ(frame.V(i, j), 128) << i << "," << j;
        ++black;
        continue;
      }
      ++mapped;
      const double cu = std::clamp(sx, 0.0, frame.cw - 1.0);
      const double cv = std::clamp(sy, 0.0, frame.ch - 1.0);
      EXPECT_NEAR(frame.U(i, j), 20 + 4 * cu, 1.0) << i << "," << j;
      EXPECT_NEAR(frame.V(i, j), 20 + 6 * cv, 1.0) << i << "," << j;
    }
  }
  EXPECT_GT(mapped, 0);
  EXPECT_GT(black, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, RemapChroma,
                         ::testing::Values(ChromaCase{101, 57, R"({"enable":1,"remap":1,"scale_factor":1.5})"},
                                           ChromaCase{64, 48, R"({"enable":1,"remap":1,"scale_factor":1.5})"},
                                           ChromaCase{33, 7, R"({"enable":1,"remap":1,"scale_factor":2})"},
                                           ChromaCase{80, 45, R"({"enable":1,"remap":1,"split_height":0.5})"}));

struct BlackCase {
  const char* json;
  char plane;  // 'Y', 'U' or 'V'
  int x, y;
  int expected;
};

void PrintTo(const BlackCase& c, std::ostream* os) {
  *os << c.json << " " << c.plane << "(" << c.x << "," << c.y << ")";
}

class RemapBlack : public ::testing::TestWithParam<BlackCase> {};

// A flat frame stays flat where the view has a source and turns black
// where it has none; parameters that describe no view leave it alone.
TEST_P(RemapBlack, OutsideTheSource) {
  const BlackCase c = GetParam();
  Frame420 frame(64, 48);
  frame.Fill(200, 60, 190);
  FishCorrectionVideoFilter f;
  Prepare(f, c.json);
  ASSERT_EQ(Feed(f, frame), 0);
  const int got = c.plane == 'Y' ? frame.Y(c.x, c.y) : c.plane == 'U' ? frame.U(c.x, c.y) : frame.V(c.x, c.y);
  EXPECT_EQ(got, c.expected) << c.json << " " << c.plane << "(" << c.x << "," << c.y << ")";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemapBlack,
    ::testing::Values(BlackCase{R"({"enable":1,"remap":1})", 'Y', 0, 0, 200},
                      BlackCase{R"({"enable":1,"remap":1})", 'U', 31, 23, 60},
                      BlackCase{R"({"enable":1,"remap":1,"split_height":0.5})", 'Y', 10, 23, 200},
                      BlackCase{R"({"enable":1,"remap":1,"split_height":0.5})", 'Y', 10, 24, 16},
                      BlackCase{R"({"enable":1,"remap":1,"split_height":0.5})", 'U', 3, 11, 60},
                      BlackCase{R"({"enable":1,"remap":1,"split_height":0.5})", 'U', 3, 12, 128},
                      BlackCase{R"({"enable":1,"remap":1,"split_height":0.5})", 'V', 31, 23, 128},
                      BlackCase{R"({"enable":1,"remap":1,"scale_factor":1})", 'Y', 32, 0, 16},
                      BlackCase{R"({"enable":1,"remap":1,"scale_factor":1})", 'V', 16, 0, 128},
                      BlackCase{R"({"enable":1,"remap":1,"scale_factor":1})", 'Y', 32, 24, 200},
                      BlackCase{R"({"enable":1,"remap":1,"pol_focal_length":0})", 'Y', 32, 0, 200},
                      BlackCase{R"({"enable":1,"remap":1,"ss0":-1})", 'U', 16, 0, 60}));

TEST(Remap, PaddedRowsAndMissingChromaAreRespected) {
  // A host that publishes no chroma planes (nor pitches) gets its luma
  // corrected and nothing else touched.
  Frame420 frame(40, 30, /*publishChroma=*/false);
  frame.Fill(90, 60, 70);
  FishCorrectionVideoFilter f;
  Prepare(f, R"({"enable":1,"remap":1,"scale_factor":1})");
  ASSERT_EQ(Feed(f, frame), 0);
  EXPECT_EQ(frame.Y(20, 0), 16);
  EXPECT_EQ(frame.Y(20, 15), 90);
  for (int j = 0; j < frame.ch; ++j)
    for (int i = 0; i < frame.cw; ++i) {
      ASSERT_EQ(frame.U(i, j), 60);
      ASSERT_EQ(frame.V(i, j), 70);
    }

  // Padding bytes past each published row width keep their value.
  Frame420 padded(40, 30, /*publishChroma=*/true, /*padding=*/5);
  padded.Fill(90, 60, 70);
  ASSERT_EQ(Feed(f, padded), 0);
  EXPECT_EQ(padded.Y(20, 0), 16);
  EXPECT_EQ(padded.Y(39, 15), 90);
  EXPECT_EQ(padded.U(10, 0), 128);
  EXPECT_EQ(padded.V(10, 7), 70);
  for (int j = 0; j < padded.h; ++j)
    for (int i = padded.w; i < padded.pitch; ++i) ASSERT_EQ(padded.Y(i, j), 0xEE) << i << "," << j;
  for (int j = 0; j < padded.ch; ++j)
    for (int i = padded.cw; i < padded.cpitch; ++i) {
      ASSERT_EQ(padded.U(i, j), 0xEE);
      ASSERT_EQ(padded.V(i, j), 0xEE);
    }
}

// A record whose size no plane behind it can have (as a misbehaving host
// might send) is left alone instead of being read or mapped.
class OversizedFrame : public host::HostVideoFrame {
 public:
  void addRef() override {}
  int release() override { return 1; }
  void reserved2() override {}
  void reserved3() override {}
  int getFrameData(host::FrameDataRecord* r) override {
    r->luma = plane;
    r->width = 100000;
    r->height = 100000;
    return 0;
  }
  uint8_t plane[16] = {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7};
};

TEST(Remap, OversizedRecordIsLeftAlone) {
  FishCorrectionVideoFilter f;
  Prepare(f, R"({"enable":1,"remap":1})");
  OversizedFrame frame;
  host::ObjectRef<host::HostVideoFrame> out;
  EXPECT_EQ(f.processFrame(host::ObjectRef<host::HostVideoFrame>(&frame), out), 0);
  EXPECT_EQ(frame.plane[0], 7);
  EXPECT_EQ(f.corrector()->mapBuilds(), 0);
}

// ---- Opt-in and map reuse ------------------------------------------------

class RemapOff : public ::testing::TestWithParam<const char*> {};

TEST_P(RemapOff, FramesStayByteIdentical) {
  Frame420 frame(37, 23);
  uint32_t seed = 12345;
  auto next = [&] { return static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24); };
  for (auto* plane : {&frame.luma, &frame.cb, &frame.cr})
    for (uint8_t& b : *plane) b = next();
  const Frame420 before = frame;
  FishCorrectionVideoFilter f;
  Prepare(f, GetParam());
  for (int k = 0; k < 3; ++k) Feed(f, frame);
  EXPECT_EQ(frame.luma, before.luma);
  EXPECT_EQ(frame.cb, before.cb);
  EXPECT_EQ(frame.cr, before.cr);
  EXPECT_FALSE(f.remap());
  EXPECT_EQ(f.corrector()->mapBuilds(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, RemapOff,
                         ::testing::Values(R"({"enable":1})", R"({"enable":1,"remap":0})",
                                           R"({"enable":1,"remap":0.5})", R"({"enable":1,"remap":"1"})",
                                           R"({"enable":1,"remap":true})", R"({"enable":0,"remap":1})"));

TEST(Remap, MapIsBuiltOncePerParametersAndSize) {
  FishCorrectionVideoFilter f;
  Prepare(f, R"({"enable":1,"remap":1})");
  Frame420 a(64, 48), b(80, 48);
  EXPECT_TRUE(f.remap());
  Feed(f, a);
  Feed(f, a);
  Feed(f, a);
  EXPECT_EQ(f.corrector()->mapBuilds(), 1);

  // The same value again changes nothing.
  ASSERT_EQ(Set(f, R"({"enable":1,"remap":1})"), 0);
  Feed(f, a);
  EXPECT_EQ(f.corrector()->mapBuilds(), 1);

  // A lens parameter, then a frame size.
  ASSERT_EQ(Set(f, R"({"enable":1,"remap":1,"scale_factor":3})"), 0);
  Feed(f, a);
  Feed(f, a);
  EXPECT_EQ(f.corrector()->mapBuilds(), 2);
  Feed(f, b);
  Feed(f, b);
  EXPECT_EQ(f.corrector()->mapBuilds(), 3);

  // Switching the remap off and on again keeps the map.
  ASSERT_EQ(Set(f, R"({"enable":1,"scale_factor":3})"), 0);
  Feed(f, b);
  ASSERT_EQ(Set(f, R"({"enable":1,"remap":1,"scale_factor":3})"), 0);
  Feed(f, b);
  EXPECT_EQ(f.corrector()->mapBuilds(), 3);

  // Parameters that describe no view are looked at once, not per frame.
  ASSERT_EQ(Set(f, R"({"enable":1,"remap":1,"ss0":0})"), 0);
  Feed(f, b);
  Feed(f, b);
  EXPECT_EQ(f.corrector()->mapBuilds(), 4);
}

}  // namespace
