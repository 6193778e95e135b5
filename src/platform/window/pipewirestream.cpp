#include "platform/window/pipewirestream.h"

#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

// PipeWire's headers are C: their pod-building macros use compound
// literals and their inline helpers cast freely.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wcast-align"
#pragma GCC diagnostic ignored "-Wnull-dereference"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#pragma GCC diagnostic pop

#include "platform/window/display.h"
#include "platform/window/videobuffer.h"

namespace wnd {

namespace {
constexpr std::int64_t kLinearModifier = 0;  // DRM_FORMAT_MOD_LINEAR
}

struct PipeWireStream::Impl {
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  pw_registry* registry = nullptr;
  std::uint32_t node = 0;
  spa_hook registryListener{};
  spa_hook streamListener{};
  spa_hook coreListener{};
  spa_video_info_raw format{};
  bool streaming = false;
  bool cursorMeta = false;
  StreamCursor cursor;  // from every buffer, kept or not

  mutable std::mutex m;
  mutable std::condition_variable cv;
  StreamFrame frame;
  std::string endedWhy;
  std::string kind;

  void end(const std::string& why) {
    {
      std::lock_guard<std::mutex> l(m);
      if (endedWhy.empty()) endedWhy = why;
    }
    cv.notify_all();
  }
  void onFormat(const spa_pod* param);
  void onProcess();
  void teardown();
};

namespace {

void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
  auto* d = static_cast<PipeWireStream::Impl*>(data);
  if (state == PW_STREAM_STATE_STREAMING) d->streaming = true;
  if (state == PW_STREAM_STATE_ERROR)
    d->end(std::string("PipeWire stopped the screen cast (") + (error ? error : "stream error") + ")");
  else if (state == PW_STREAM_STATE_UNCONNECTED && d->streaming)
    d->end("The screen cast ended: the desktop stopped sharing the screen");
}

void onParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
  if (id == SPA_PARAM_Format && param) static_cast<PipeWireStream::Impl*>(data)->onFormat(param);
}

void onProcess(void* data) { static_cast<PipeWireStream::Impl*>(data)->onProcess(); }

void onCoreError(void* data, std::uint32_t id, int, int res, const char* message) {
  if (id != PW_ID_CORE) return;
  auto* d = static_cast<PipeWireStream::Impl*>(data);
  d->end(std::string("The connection to PipeWire broke (") + (message ? message : strerror(-res)) + ")");
}

// The cast's node leaving PipeWire is how its end shows on our side when
// the producer goes away (the stream itself just stops).
void onGlobalRemove(void* data, std::uint32_t id) {
  auto* d = static_cast<PipeWireStream::Impl*>(data);
  if (id == d->node) d->end("The screen cast ended: the desktop stopped sharing the screen");
}

pw_registry_events registryEvents() {
  pw_registry_events e{};
  e.version = PW_VERSION_REGISTRY_EVENTS;
  e.global_remove = onGlobalRemove;
  return e;
}

pw_stream_events streamEvents() {
  pw_stream_events e{};
  e.version = PW_VERSION_STREAM_EVENTS;
  e.state_changed = onStateChanged;
  e.param_changed = onParamChanged;
  e.process = onProcess;
  return e;
}

pw_core_events coreEvents() {
  pw_core_events e{};
  e.version = PW_VERSION_CORE_EVENTS;
  e.error = onCoreError;
  return e;
}

const pw_stream_events kStreamEvents = streamEvents();
const pw_core_events kCoreEvents = coreEvents();
const pw_registry_events kRegistryEvents = registryEvents();

}  // namespace

void PipeWireStream::Impl::onFormat(const spa_pod* param) {
  std::uint32_t mediaType = 0, mediaSubtype = 0;
  if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
      mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
    return;
  spa_video_info_raw f{};
  if (spa_format_video_raw_parse(param, &f) < 0) return;
  int b, g, r;
  if (!channelOrder(f.format, b, g, r)) {
    end("The screen cast offers a pixel format Kestrel cannot read");
    return;
  }
  format = f;
  // A format with a modifier is a DMA-BUF one; only the linear modifier is
  // offered, which reads as plain rows once mapped. Without one, shared
  // memory (memfd or plain) is mapped by PipeWire, and a DMA-BUF here.
  const bool dmabuf = spa_pod_find_prop(param, nullptr, SPA_FORMAT_VIDEO_modifier) != nullptr;
  const int types = dmabuf ? (1 << SPA_DATA_DmaBuf) : (1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_DmaBuf);
  std::uint8_t buf[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buf, sizeof buf);
  const spa_pod* params[4];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int(types)));
  // The crop a producer asks for (GNOME's streams carry one), and the
  // header whose flags mark a corrupted buffer.
  params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoCrop),
      SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
  params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
      SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
  std::uint32_t n = 3;
  // The pointer's place and picture beside the frames, room for a picture
  // of up to 256 x 256 (64 x 64 is what the desktops send).
  auto cursorSize = [](int side) {
    return int(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + side * side * 4;
  };
  if (cursorMeta)
    params[n++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
        SPA_PARAM_META_size, SPA_POD_CHOICE_RANGE_Int(cursorSize(64), cursorSize(1), cursorSize(256))));
  pw_stream_update_params(stream, params, n);
}

void PipeWireStream::Impl::onProcess() {
  // Only the newest buffer with a picture counts; older ones go straight
  // back. One without a picture (a cursor update) keeps the frame before.
  // The pointer is taken from every buffer, since a new picture of it comes
  // only when its shape changes.
  pw_buffer* b = nullptr;
  bool cursorMoved = false;
  while (pw_buffer* next = pw_stream_dequeue_buffer(stream)) {
    if (b) pw_stream_queue_buffer(stream, b);
    b = next;
    if (cursorMeta && readCursorMeta(*b->buffer, cursor)) cursorMoved = true;
  }
  if (!b) return;
  BufferRead read;
  {
    std::lock_guard<std::mutex> l(m);
    if (cursorMoved) frame.cursor = cursor;
    const char* k = "";
    read = readVideoBuffer(*b->buffer, format.format, int(format.size.width), int(format.size.height), frame, k);
    if (read == BufferRead::Frame) {
      ++frame.sequence;
      kind = k;
    }
  }
  const spa_data& d = b->buffer->datas[0];
  const bool unmappable = read == BufferRead::Unreadable && b->buffer->n_datas >= 1 && d.type == SPA_DATA_DmaBuf && !d.data;
  pw_stream_queue_buffer(stream, b);
  if (read == BufferRead::Frame) cv.notify_all();
  if (unmappable) end("The screen cast sends its frames in graphics memory that Kestrel cannot map");
}

PipeWireStream::PipeWireStream(int fd, std::uint32_t node, bool cursorMeta) : d_(std::make_unique<Impl>()) {
  d_->cursorMeta = cursorMeta;
  static std::once_flag init;
  std::call_once(init, [] { pw_init(nullptr, nullptr); });
  d_->loop = pw_thread_loop_new("kestrel-grab", nullptr);
  if (!d_->loop) {
    close(fd);
    throw Error("PipeWire could not be started (no thread loop)");
  }
  d_->context = pw_context_new(pw_thread_loop_get_loop(d_->loop), nullptr, 0);
  if (!d_->context || pw_thread_loop_start(d_->loop) < 0) {
    close(fd);
    if (d_->context) pw_context_destroy(d_->context);
    pw_thread_loop_destroy(d_->loop);
    throw Error("PipeWire could not be started");
  }
  pw_thread_loop_lock(d_->loop);
  std::string failure;
  d_->core = pw_context_connect_fd(d_->context, fd, nullptr, 0);  // takes the fd, even on failure
  if (!d_->core) {
    failure = std::string("Kestrel cannot reach PipeWire through the portal (") + strerror(errno) + ")";
  } else {
    pw_core_add_listener(d_->core, &d_->coreListener, &kCoreEvents, d_.get());
    d_->node = node;
    d_->registry = pw_core_get_registry(d_->core, PW_VERSION_REGISTRY, 0);
    if (d_->registry) pw_registry_add_listener(d_->registry, &d_->registryListener, &kRegistryEvents, d_.get());
    d_->stream = pw_stream_new(d_->core, "Kestrel screen grab",
                               pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                 PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!d_->stream) {
      failure = "PipeWire refused to make a stream";
    } else {
      pw_stream_add_listener(d_->stream, &d_->streamListener, &kStreamEvents, d_.get());
      std::uint8_t buf[2048];
      spa_pod_builder builder = SPA_POD_BUILDER_INIT(buf, sizeof buf);
      spa_rectangle defSize{1280, 720}, minSize{1, 1}, maxSize{16384, 16384};
      spa_fraction defRate{30, 1}, minRate{0, 1}, maxRate{1000, 1};
      // A linear DMA-BUF first (a producer that offers its buffers in
      // graphics memory with explicit modifiers gives one Kestrel can map),
      // then shared memory: a producer with only tiled modifiers, or none,
      // falls through to the second.
      auto enumFormat = [&](bool linearDmaBuf) {
        spa_pod_frame frame;
        spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
        spa_pod_builder_add(
            &builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(9, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                                   SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB,
                                   SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ABGR),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defRate, &minRate, &maxRate), 0);
        if (linearDmaBuf) {
          spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_modifier, SPA_POD_PROP_FLAG_MANDATORY);
          spa_pod_builder_long(&builder, kLinearModifier);
        }
        return static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
      };
      const spa_pod* params[2];
      params[0] = enumFormat(true);
      params[1] = enumFormat(false);
      const int rc = pw_stream_connect(d_->stream, PW_DIRECTION_INPUT, node,
                                       static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                                    PW_STREAM_FLAG_MAP_BUFFERS),
                                       params, 2);
      if (rc < 0) failure = std::string("PipeWire refused the screen cast's stream (") + strerror(-rc) + ")";
    }
  }
  pw_thread_loop_unlock(d_->loop);
  if (!failure.empty()) {
    d_->teardown();
    throw Error(failure);
  }
}

void PipeWireStream::Impl::teardown() {
  if (!loop) return;
  pw_thread_loop_lock(loop);
  if (stream) pw_stream_destroy(stream);
  if (registry) {
    spa_hook_remove(&registryListener);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
  }
  if (core) pw_core_disconnect(core);
  registry = nullptr;
  stream = nullptr;
  core = nullptr;
  pw_thread_loop_unlock(loop);
  pw_thread_loop_stop(loop);
  pw_context_destroy(context);
  pw_thread_loop_destroy(loop);
  loop = nullptr;
}

PipeWireStream::~PipeWireStream() { d_->teardown(); }

bool PipeWireStream::waitFrame(std::chrono::milliseconds timeout, std::uint64_t after) const {
  std::unique_lock<std::mutex> l(d_->m);
  return d_->cv.wait_for(l, timeout, [&] { return d_->frame.sequence > after || !d_->endedWhy.empty(); }) &&
         d_->frame.sequence > after;
}

StreamFrame PipeWireStream::frame() const {
  std::lock_guard<std::mutex> l(d_->m);
  return d_->frame;
}

std::string PipeWireStream::ended() const {
  std::lock_guard<std::mutex> l(d_->m);
  return d_->endedWhy;
}

std::string PipeWireStream::bufferKind() const {
  std::lock_guard<std::mutex> l(d_->m);
  return d_->kind;
}

void PipeWireStream::end(const std::string& why) { d_->end(why); }

void PipeWireStream::lockFrame() const { d_->m.lock(); }
void PipeWireStream::unlockFrame() const { d_->m.unlock(); }
const StreamFrame& PipeWireStream::current() const { return d_->frame; }

}  // namespace wnd
