// FishCorrectionVideoFilter: keeps the fisheye lens parameters given by the
// host in its property "fishCorrection" current on every frame and, when the
// value asks for it with "remap", replaces each frame by the corrected view.
#pragma once

#include <memory>

#include "fisheye/fish_corrector.h"
#include "host/extension_interface.h"

namespace fisheye {

constexpr const char kFilterName[] = "FishCorrectionVideoFilter";
constexpr const char kProviderName[] = "lecture_cam";
constexpr const char kPropertyKey[] = "fishCorrection";
constexpr const char kEnableKey[] = "enable";
// Opt-in pixel remap: a JSON number whose integer value is non-zero switches
// it on; absent, 0 or not a number leaves every frame unchanged.  Read with
// the lens keys, so "enable" 0 leaves it as it was.
constexpr const char kRemapKey[] = "remap";
constexpr const char kStartEventKey[] = "log";
constexpr const char kStartEventText[] = "FishCorrection: FishCorrectionVideoFilter start";
constexpr const char kSetControlLog[] = "lecture camera: sdk setExtensionControl for provider";
constexpr int32_t kDefaultWidth = 640;
constexpr int32_t kDefaultHeight = 480;
// No exception (an allocation failure, say) leaves a host entry point.
// Instead setProperty answers -1, processFrame 1 (the frame is handed on as
// it stands), and start kStartFailed with the filter left stopped (no
// corrector, no control).  stop only releases and answers 0; kStopFailed
// stands for an exception it would meet all the same.
constexpr int kStartFailed = -1;
constexpr int kStopFailed = -1;

// The lens keys of "fishCorrection": one row per float field of
// FishCorrectionParams (the frame size aside), read by the parser, the
// defaults, SameParams and README.md's member list (tests/fisheye checks
// the README shows every row).  Each is a JSON number, found whatever its
// case; an absent key or a value that is not a number takes the default.
// Meanings follow the camera model of fish_lens_model.h.
struct LensOption {
  const char* key;
  float FishCorrectionParams::*field;
  float defaultValue;
  const char* help;
};
inline constexpr LensOption kLensOptions[] = {
    {"ss0", &FishCorrectionParams::ss0, 0.9375f, "lens polynomial P(rho), constant term"},
    {"ss1", &FishCorrectionParams::ss1, 0.0f, "lens polynomial P(rho), linear term"},
    {"ss2", &FishCorrectionParams::ss2, -2.944f, "lens polynomial P(rho), quadratic term"},
    {"ss3", &FishCorrectionParams::ss3, 5.7344f, "lens polynomial P(rho), cubic term"},
    {"ss4", &FishCorrectionParams::ss4, -4.4564f, "lens polynomial P(rho), quartic term"},
    {"x_center", &FishCorrectionParams::xCenter, 0.49f, "lens centre, fraction of the width"},
    {"y_center", &FishCorrectionParams::yCenter, 0.48f, "lens centre, fraction of the height"},
    {"scale_factor", &FishCorrectionParams::scaleFactor, 4.5f,
     "focal length of the corrected view, tenths of the frame width"},
    {"focal_length", &FishCorrectionParams::focalLength, 31.0f,
     "focal length of the lens in use (scales the polynomial's radius)"},
    {"pol_focal_length", &FishCorrectionParams::polFocalLength, 31.0f,
     "focal length the lens polynomial was fitted for"},
    {"split_height", &FishCorrectionParams::splitHeight, 1.0f,
     "share of the frame height the corrected view spans, from the top"},
};
// Every field but width and height has its row.
static_assert(sizeof(FishCorrectionParams) ==
                  (sizeof(kLensOptions) / sizeof(kLensOptions[0]) + 2) * sizeof(float),
              "a lens field without a row in kLensOptions");

// Parameters with every lens field at its default and no frame size.
FishCorrectionParams DefaultLensParams();

class FishCorrectionVideoFilter final
    : public host::RefCounted<host::ExtensionVideoFilter, FishCorrectionVideoFilter> {
 public:
  FishCorrectionVideoFilter() = default;
  ~FishCorrectionVideoFilter();

  void setEnabled(bool enabled) override { enabled_ = enabled; }
  bool isEnabled() override { return enabled_; }
  int setProperty(const char* key, const char* value, size_t size) override;
  int start(host::ObjectRef<host::FilterControl> control) override;
  int stop() override;
  int processFrame(host::ObjectRef<host::HostVideoFrame> input,
                   host::ObjectRef<host::HostVideoFrame>& output) override;

  // Read-only views for hosts and tests.
  const FishCorrectionParams& params() const { return params_; }
  const FishCorrector* corrector() const { return corrector_.get(); }
  bool enabled() const { return enabled_; }
  bool remap() const { return remap_; }

 private:
  std::unique_ptr<FishCorrector> corrector_;
  host::ObjectRef<host::FilterControl> control_;
  bool enabled_ = false;
  bool remap_ = false;
  FishCorrectionParams params_{};
};

}  // namespace fisheye
