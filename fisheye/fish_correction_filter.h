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

// The lens keys of "fishCorrection": one row per float field, read by the
// parser, the defaults and the documentation alike.
struct LensOption {
  const char* key;
  float FishCorrectionParams::*field;
  float defaultValue;
  const char* meaning;
};
extern const LensOption kLensOptions[11];

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
