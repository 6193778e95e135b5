#include "platform/window/pipewirestream.h"

#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
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

namespace wnd {

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
  void copyFrame(const std::uint8_t* src, std::size_t stride, std::size_t available, const char* bufferKind);
};

namespace {

// Byte positions of blue, green and red in one 4-byte pixel of a format
// we accept; false for any other format.
bool channelOrder(std::uint32_t f, int& b, int& g, int& r) {
  switch (f) {
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_BGRA: b = 0, g = 1, r = 2; return true;
    case SPA_VIDEO_FORMAT_RGBx:
    case SPA_VIDEO_FORMAT_RGBA: r = 0, g = 1, b = 2; return true;
    case SPA_VIDEO_FORMAT_xRGB:
    case SPA_VIDEO_FORMAT_ARGB: r = 1, g = 2, b = 3; return true;
    case SPA_VIDEO_FORMAT_xBGR:
    case SPA_VIDEO_FORMAT_ABGR: b = 1, g = 2, r = 3; return true;
    default: return false;
  }
}

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
  // Shared memory (memfd or plain) is mapped by PipeWire; a DMA-BUF is
  // mapped here when a frame comes in one.
  std::uint8_t buf[256];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buf, sizeof buf);
  const spa_pod* params[1];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
      SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_DmaBuf))));
  pw_stream_update_params(stream, params, 1);
}

void PipeWireStream::Impl::copyFrame(const std::uint8_t* src, std::size_t stride, std::size_t available,
                                     const char* bufferKind) {
  const int w = int(format.size.width), h = int(format.size.height);
  if (w <= 0 || h <= 0 || stride < std::size_t(w) * 4 || stride * std::size_t(h - 1) + std::size_t(w) * 4 > available)
    return;  // a short or empty buffer: keep the frame before it
  int bi = 0, gi = 1, ri = 2;
  channelOrder(format.format, bi, gi, ri);
  {
    std::lock_guard<std::mutex> l(m);
    frame.width = w;
    frame.height = h;
    frame.pixels.resize(std::size_t(w) * h * 4);
    const std::size_t rowBytes = std::size_t(w) * 4;
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* s = src + stride * std::size_t(y);
      std::uint8_t* o = frame.pixels.data() + rowBytes * std::size_t(y);
      if (bi == 0 && gi == 1 && ri == 2) {
        std::memcpy(o, s, rowBytes);
        for (int x = 0; x < w; ++x) o[x * 4 + 3] = 0;
      } else {
        for (int x = 0; x < w; ++x, s += 4, o += 4) {
          o[0] = s[bi];
          o[1] = s[gi];
          o[2] = s[ri];
          o[3] = 0;
        }
      }
    }
    ++frame.sequence;
    kind = bufferKind;
  }
  cv.notify_all();
}

void PipeWireStream::Impl::onProcess() {
  // Only the newest buffer counts; older ones go straight back.
  pw_buffer* b = nullptr;
  while (pw_buffer* next = pw_stream_dequeue_buffer(stream)) {
    if (b) pw_stream_queue_buffer(stream, b);
    b = next;
  }
  if (!b) return;
  spa_buffer* sb = b->buffer;
  if (sb->n_datas >= 1 && sb->datas[0].chunk && sb->datas[0].chunk->size > 0 &&
      !(sb->datas[0].chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) {
    const spa_data& d = sb->datas[0];
    const std::size_t offset = d.chunk->offset;
    const std::size_t stride = d.chunk->stride > 0 ? std::size_t(d.chunk->stride) : std::size_t(format.size.width) * 4;
    if (d.data && offset <= d.maxsize) {
      const char* k = d.type == SPA_DATA_MemFd ? "memfd" : d.type == SPA_DATA_DmaBuf ? "dma-buf" : "shared memory";
      copyFrame(static_cast<const std::uint8_t*>(d.data) + offset, stride, d.maxsize - offset, k);
    } else if (d.type == SPA_DATA_DmaBuf && d.fd >= 0) {
      // A DMA-BUF PipeWire did not map: mapped for this one read, with the
      // driver told so that its caches are coherent.
      const std::size_t len = std::size_t(d.mapoffset) + d.maxsize;
      void* p = mmap(nullptr, len, PROT_READ, MAP_SHARED, int(d.fd), 0);
      if (p != MAP_FAILED) {
        dma_buf_sync sync{DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ};
        ioctl(int(d.fd), DMA_BUF_IOCTL_SYNC, &sync);
        if (offset <= d.maxsize)
          copyFrame(static_cast<const std::uint8_t*>(p) + d.mapoffset + offset, stride, d.maxsize - offset,
                    "dma-buf");
        sync.flags = DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ;
        ioctl(int(d.fd), DMA_BUF_IOCTL_SYNC, &sync);
        munmap(p, len);
      } else {
        end("The screen cast sends its frames in graphics memory that Kestrel cannot map");
      }
    }
  }
  pw_stream_queue_buffer(stream, b);
}

PipeWireStream::PipeWireStream(int fd, std::uint32_t node) : d_(std::make_unique<Impl>()) {
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
      std::uint8_t buf[1024];
      spa_pod_builder builder = SPA_POD_BUILDER_INIT(buf, sizeof buf);
      spa_rectangle defSize{1280, 720}, minSize{1, 1}, maxSize{16384, 16384};
      spa_fraction defRate{30, 1}, minRate{0, 1}, maxRate{1000, 1};
      const spa_pod* params[1];
      params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
          &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
          SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
          SPA_FORMAT_VIDEO_format,
          SPA_POD_CHOICE_ENUM_Id(9, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                                 SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB,
                                 SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ABGR),
          SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
          SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defRate, &minRate, &maxRate)));
      const int rc = pw_stream_connect(d_->stream, PW_DIRECTION_INPUT, node,
                                       static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                                    PW_STREAM_FLAG_MAP_BUFFERS),
                                       params, 1);
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
