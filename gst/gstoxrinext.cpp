// oxrinext: a GStreamer video filter that runs every frame, in place,
// through a filter of an extension library loaded with the host stand-in.
#include <gst/gst.h>
#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "gst/oxrin_session.h"

GST_DEBUG_CATEGORY_STATIC(oxrinext_debug);
#define GST_CAT_DEFAULT oxrinext_debug

namespace {

constexpr char kElementName[] = "oxrinext";
constexpr char kStatusMessageName[] = "oxrinext-status";
constexpr char kFrameLog[] =
    "frame %" G_GUINT64_FORMAT ": result %d, %.3f ms (processFrame %.3f ms)";
constexpr char kFilterLine[] = "%s, level %d: %s";
constexpr char kKeptReference[] = "filter %s kept a reference to a frame it was given";
constexpr char kNotWhileRunning[] = "property %s can be set only in the NULL or READY state";
constexpr char kStarted[] = "filter %s of %s started";
constexpr char kGeometry[] = "geometry %" GST_PTR_FORMAT;
constexpr char kLibraryDebug[] = "library %s";
constexpr char kCapsDebug[] = "caps %" GST_PTR_FORMAT;
constexpr char kNotOpen[] = "no filter: the element has not started";
constexpr char kCaps[] = GST_VIDEO_CAPS_MAKE("{ I420, NV12 }");

enum {
  PROP_0,
  PROP_EXTENSION,
  PROP_FILTER,
  PROP_PROPERTIES,
  PROP_FRAMES_PROCESSED,
  PROP_FRAMES_PASSED,
  PROP_LAST_STATUS,
  PROP_LAST_MESSAGE,
};

// State that is not plain C, kept out of the GObject instance.
struct State {
  std::mutex mu;  // the settings and lastMessage
  std::string extension, filter, properties, lastMessage;
  oxgst::Session session;  // state changes and the streaming thread
  bool open = false;
  long keptRefs = 0;
  guint64 frames = 0;  // since start, streaming thread only
  std::atomic<guint64> processed{0}, passed{0};
  std::atomic<int> lastStatus{-1};
};

std::string g_plugin_dir = ".";

}  // namespace

G_BEGIN_DECLS
#define GST_TYPE_OXRIN_EXT (gst_oxrin_ext_get_type())
struct GstOxrinExt {
  GstVideoFilter parent;
  State* state;
};
struct GstOxrinExtClass {
  GstVideoFilterClass parent_class;
};
GType gst_oxrin_ext_get_type(void);
G_END_DECLS

G_DEFINE_TYPE(GstOxrinExt, gst_oxrin_ext, GST_TYPE_VIDEO_FILTER)

namespace {

GstOxrinExt* Self(gpointer p) { return reinterpret_cast<GstOxrinExt*>(p); }

// Lines the filter logs to the host: debug output by level (4: INFO, 2-3:
// DEBUG, others: LOG); level 4 also an element message on the bus.
void OnFilterLog(void* ctx, int level, const char* text) {
  GstOxrinExt* self = Self(ctx);
  State* s = self->state;
  const GstDebugLevel gst_level = level == 4                   ? GST_LEVEL_INFO
                                  : (level == 2 || level == 3) ? GST_LEVEL_DEBUG
                                                               : GST_LEVEL_LOG;
  const char* filter = s->session.filterName().c_str();
  GST_CAT_LEVEL_LOG(oxrinext_debug, gst_level, self, kFilterLine, filter, level, text);
  if (level != 4) return;
  {
    std::lock_guard<std::mutex> lock(s->mu);
    s->lastMessage = text;
  }
  GstStructure* st = gst_structure_new(kStatusMessageName, "filter", G_TYPE_STRING, filter, "level",
                                       G_TYPE_INT, level, "text", G_TYPE_STRING, text, nullptr);
  gst_element_post_message(GST_ELEMENT(self), gst_message_new_element(GST_OBJECT(self), st));
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  GstOxrinExt* self = Self(object);
  State* s = self->state;
  std::string* target = id == PROP_EXTENSION    ? &s->extension
                        : id == PROP_FILTER     ? &s->filter
                        : id == PROP_PROPERTIES ? &s->properties
                                                : nullptr;
  if (target == nullptr) {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    return;
  }
  GST_OBJECT_LOCK(self);
  const bool running = GST_STATE(self) > GST_STATE_READY;
  GST_OBJECT_UNLOCK(self);
  if (running) {
    GST_WARNING_OBJECT(self, kNotWhileRunning, pspec->name);
    return;
  }
  const gchar* text = g_value_get_string(value);
  std::lock_guard<std::mutex> lock(s->mu);
  *target = text ? text : "";
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  State* s = Self(object)->state;
  std::lock_guard<std::mutex> lock(s->mu);
  switch (id) {
    case PROP_EXTENSION:
      g_value_set_string(value, s->extension.c_str());
      break;
    case PROP_FILTER:
      g_value_set_string(value, s->filter.c_str());
      break;
    case PROP_PROPERTIES:
      g_value_set_string(value, s->properties.c_str());
      break;
    case PROP_FRAMES_PROCESSED:
      g_value_set_uint64(value, s->processed.load());
      break;
    case PROP_FRAMES_PASSED:
      g_value_set_uint64(value, s->passed.load());
      break;
    case PROP_LAST_STATUS:
      g_value_set_int(value, s->lastStatus.load());
      break;
    case PROP_LAST_MESSAGE:
      g_value_set_string(value, s->lastMessage.c_str());
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
}

gboolean Start(GstBaseTransform* trans) {
  GstOxrinExt* self = Self(trans);
  State* s = self->state;
  std::string extension, filter, properties, error;
  {
    std::lock_guard<std::mutex> lock(s->mu);
    extension = s->extension;
    filter = s->filter;
    properties = s->properties;
    s->lastMessage.clear();
  }
  s->processed = 0;
  s->passed = 0;
  s->lastStatus = -1;
  s->keptRefs = 0;
  s->frames = 0;
  const std::string path = oxgst::ResolveExtension(extension, g_plugin_dir, &error);
  if (path.empty()) {
    GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("%s", error.c_str()), (nullptr));
    return FALSE;
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  if (!oxgst::ParseProperties(properties, &pairs, &error)) {
    GST_ELEMENT_ERROR(self, LIBRARY, SETTINGS, ("%s", error.c_str()), (nullptr));
    return FALSE;
  }
  if (!s->session.open(path, filter, pairs, &OnFilterLog, self, &error)) {
    GST_ELEMENT_ERROR(self, LIBRARY, INIT, ("%s", error.c_str()), (kLibraryDebug, path.c_str()));
    return FALSE;
  }
  s->open = true;
  GST_INFO_OBJECT(self, kStarted, s->session.filterName().c_str(), path.c_str());
  return TRUE;
}

gboolean Stop(GstBaseTransform* trans) {
  State* s = Self(trans)->state;
  s->session.close();
  s->open = false;
  return TRUE;
}

// A caps change is a new geometry for the filter.
gboolean SetInfo(GstVideoFilter* filter, GstCaps* incaps, GstVideoInfo* in_info, GstCaps*,
                 GstVideoInfo*) {
  GstOxrinExt* self = Self(filter);
  State* s = self->state;
  std::string error = kNotOpen;
  const bool nv12 = GST_VIDEO_INFO_FORMAT(in_info) == GST_VIDEO_FORMAT_NV12;
  if (!s->open || !s->session.setGeometry(GST_VIDEO_INFO_WIDTH(in_info),
                                          GST_VIDEO_INFO_HEIGHT(in_info), nv12, &error)) {
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("%s", error.c_str()), (kCapsDebug, incaps));
    return FALSE;
  }
  GST_INFO_OBJECT(self, kGeometry, incaps);
  return TRUE;
}

GstFlowReturn TransformFrameIp(GstVideoFilter* filter, GstVideoFrame* frame) {
  GstOxrinExt* self = Self(filter);
  State* s = self->state;
  oxgst::Picture p;
  p.width = GST_VIDEO_FRAME_WIDTH(frame);
  p.height = GST_VIDEO_FRAME_HEIGHT(frame);
  p.nv12 = GST_VIDEO_FRAME_FORMAT(frame) == GST_VIDEO_FORMAT_NV12;
  for (guint i = 0; i < GST_VIDEO_FRAME_N_PLANES(frame) && i < 3; ++i) {
    p.data[i] = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, i));
    p.stride[i] = GST_VIDEO_FRAME_PLANE_STRIDE(frame, i);
  }
  double filter_ms = 0;
  const auto t0 = std::chrono::steady_clock::now();
  const int result = s->session.process(p, &filter_ms);
  const double total_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  if (result == 0)
    ++s->processed;
  else
    ++s->passed;
  const guint64 n = ++s->frames;
  s->lastStatus = result;
  GST_DEBUG_OBJECT(self, kFrameLog, n, result, total_ms, filter_ms);
  if (s->session.keptReferences() != s->keptRefs) {
    s->keptRefs = s->session.keptReferences();
    GST_WARNING_OBJECT(self, kKeptReference, s->session.filterName().c_str());
  }
  return GST_FLOW_OK;
}

void Finalize(GObject* object) {
  GstOxrinExt* self = Self(object);
  delete self->state;
  self->state = nullptr;
  G_OBJECT_CLASS(gst_oxrin_ext_parent_class)->finalize(object);
}

}  // namespace

static void gst_oxrin_ext_init(GstOxrinExt* self) { self->state = new State(); }

static void gst_oxrin_ext_class_init(GstOxrinExtClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->set_property = SetProperty;
  object_class->get_property = GetProperty;
  object_class->finalize = Finalize;

  const auto settable = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                 GST_PARAM_MUTABLE_READY);
  const auto counter = static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);
  g_object_class_install_property(
      object_class, PROP_EXTENSION,
      g_param_spec_string("extension", "Extension",
                          "pvc, fisheye, or the path of an extension library", "", settable));
  g_object_class_install_property(
      object_class, PROP_FILTER,
      g_param_spec_string("filter", "Filter",
                          "Filter to create (empty: the extension's first filter)", "", settable));
  g_object_class_install_property(
      object_class, PROP_PROPERTIES,
      g_param_spec_string("properties", "Filter properties",
                          "KEY=VALUE pairs set on the filter before start, separated by ';' or a "
                          "newline outside JSON braces, brackets and strings",
                          "", settable));
  g_object_class_install_property(
      object_class, PROP_FRAMES_PROCESSED,
      g_param_spec_uint64("frames-processed", "Frames processed",
                          "Frames the filter processed (result 0) since start", 0, G_MAXUINT64, 0,
                          counter));
  g_object_class_install_property(
      object_class, PROP_FRAMES_PASSED,
      g_param_spec_uint64(
          "frames-passed", "Frames passed through",
          "Frames the filter passed through unchanged (results 1 and 2) since start", 0,
          G_MAXUINT64, 0, counter));
  g_object_class_install_property(
      object_class, PROP_LAST_STATUS,
      g_param_spec_int("last-status", "Last status",
                       "Result of the last processFrame (0 processed, 1 or 2 passed through; -1 "
                       "none yet)",
                       G_MININT, G_MAXINT, -1, counter));
  g_object_class_install_property(
      object_class, PROP_LAST_MESSAGE,
      g_param_spec_string("last-message", "Last message",
                          "Text of the filter's last level-4 status line", "", counter));

  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  gst_element_class_set_static_metadata(
      element_class, "Oxrin extension filter", "Filter/Effect/Video",
      "Runs frames in place through a video filter of an Oxrin extension library",
      "Oxrin video extensions");
  GstCaps* caps = gst_caps_from_string(kCaps);
  gst_element_class_add_pad_template(
      element_class, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, caps));
  gst_element_class_add_pad_template(
      element_class, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
  gst_caps_unref(caps);

  GstBaseTransformClass* trans_class = GST_BASE_TRANSFORM_CLASS(klass);
  trans_class->start = Start;
  trans_class->stop = Stop;
  trans_class->passthrough_on_same_caps = FALSE;
  GstVideoFilterClass* filter_class = GST_VIDEO_FILTER_CLASS(klass);
  filter_class->set_info = SetInfo;
  filter_class->transform_frame_ip = TransformFrameIp;
}

static gboolean PluginInit(GstPlugin* plugin) {
  if (const gchar* file = gst_plugin_get_filename(plugin)) {
    gchar* dir = g_path_get_dirname(file);
    g_plugin_dir = dir;
    g_free(dir);
  }
  GST_DEBUG_CATEGORY_INIT(oxrinext_debug, kElementName, 0, "Oxrin extension filter");
  return gst_element_register(plugin, kElementName, GST_RANK_NONE, GST_TYPE_OXRIN_EXT);
}

#define PACKAGE "oxrin_extensions"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, oxrinext,
                  "Runs video frames through the filters of Oxrin extension libraries", PluginInit,
                  OXRIN_VERSION, "Proprietary", PACKAGE, "oxrin")
