#include "fisheye/fish_correction_filter.h"

#include <cjson/cJSON.h>

#include <cfloat>
#include <cstring>
#include <memory>
#include <utility>

namespace fisheye {

namespace {

// A JSON number as float; values beyond the float range saturate instead
// of overflowing the conversion.
float ClampToFloat(double v) {
  if (v > static_cast<double>(FLT_MAX)) return FLT_MAX;
  if (v < -static_cast<double>(FLT_MAX)) return -FLT_MAX;
  return static_cast<float>(v);
}

struct JsonDoc {
  explicit JsonDoc(cJSON* r) : root(r) {}
  ~JsonDoc() { cJSON_Delete(root); }
  JsonDoc(const JsonDoc&) = delete;
  JsonDoc& operator=(const JsonDoc&) = delete;
  cJSON* root;
};

// Case-insensitive member lookup that only counts numbers.
const cJSON* NumberMember(const cJSON* root, const char* key) {
  if (root == nullptr) return nullptr;
  const cJSON* item = cJSON_GetObjectItem(root, key);
  return cJSON_IsNumber(item) ? item : nullptr;
}

}  // namespace

FishCorrectionParams DefaultLensParams() {
  FishCorrectionParams p{};
  for (const LensOption& o : kLensOptions) p.*o.field = o.defaultValue;
  return p;
}

FishCorrectionVideoFilter::~FishCorrectionVideoFilter() {
  control_.reset();
  corrector_.reset();
}

// Host entry points are function-try-blocks: no exception reaches the host.
int FishCorrectionVideoFilter::setProperty(const char* key, const char* value, size_t size) try {
  if (value == nullptr || key == nullptr || key[0] == '\0' || size == 0) return -1;
  if (std::strlen(key) != sizeof(kPropertyKey) - 1 ||
      std::memcmp(key, kPropertyKey, sizeof(kPropertyKey) - 1) != 0) {
    return -1;
  }
  // The value need not be terminated: read at most `size` bytes.
  const size_t length = strnlen(value, size);
  JsonDoc doc(cJSON_ParseWithLength(value, length));

  const cJSON* enable = NumberMember(doc.root, kEnableKey);
  if (enable == nullptr) return -1;
  // cJSON's integer view saturates, so huge values still read as "on".
  if (enable->valueint == 0) {
    enabled_ = false;
    return 0;
  }

  for (const LensOption& o : kLensOptions) {
    const cJSON* item = NumberMember(doc.root, o.key);
    params_.*o.field = item ? ClampToFloat(item->valuedouble) : o.defaultValue;
  }
  if (params_.width == 0) params_.width = kDefaultWidth;
  if (params_.height == 0) params_.height = kDefaultHeight;
  const cJSON* remap = NumberMember(doc.root, kRemapKey);
  remap_ = remap != nullptr && remap->valueint != 0;
  if (corrector_) {
    corrector_->setRemap(remap_);
    if (enabled_) {
      corrector_->update(&params_);
    } else {
      corrector_->init(&params_);
    }
  }
  enabled_ = true;
  return 0;
} catch (...) {
  return -1;
}

int FishCorrectionVideoFilter::start(host::ObjectRef<host::FilterControl> control) try {
  // Made first: a filter that cannot have a corrector does not announce a start.
  std::unique_ptr<FishCorrector> corrector(new FishCorrector());
  control_.assign(control.get());
  if (control_) control_->postEvent(kStartEventKey, kStartEventText);
  corrector_ = std::move(corrector);
  control.reset();
  return 0;
} catch (...) {
  corrector_.reset();
  control_.reset();
  return kStartFailed;
}

int FishCorrectionVideoFilter::stop() try {
  corrector_.reset();
  return 0;
} catch (...) {
  return kStopFailed;
}

int FishCorrectionVideoFilter::processFrame(host::ObjectRef<host::HostVideoFrame> input,
                                            host::ObjectRef<host::HostVideoFrame>& output) try {
  if (!input) return host::kFrameNoInput;
  output.assign(input.get());

  host::FrameDataRecord record;
  host::PrepareFrameDataRecord(&record);
  input->getFrameData(&record);
  params_.width = record.width;
  params_.height = record.height;

  if (enabled_) {
    if (corrector_) {
      corrector_->update(&params_);
      corrector_->setRemap(remap_);
      corrector_->correctFrame(host::ObjectRef<host::HostVideoFrame>(output.get()));
    }
    input.reset();
    return host::kFrameProcessed;
  }
  input.reset();
  return host::kFrameNotProcessed;
} catch (...) {
  return host::kFrameNotProcessed;
}

}  // namespace fisheye
