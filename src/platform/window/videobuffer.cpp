#include "platform/window/videobuffer.h"

#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include <cstring>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wcast-align"
#pragma GCC diagnostic ignored "-Wnull-dereference"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>
#pragma GCC diagnostic pop

#include "platform/window/pipewirestream.h"

namespace wnd {

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

namespace {

// The part of the width x height picture to keep: the producer's crop
// region when it gives a sane one (GNOME does, and a window's stream
// carries a shadow margin outside it), else all of it.
struct Area {
  int x = 0, y = 0, width = 0, height = 0;
};

Area cropArea(const spa_buffer& b, int width, int height) {
  Area a{0, 0, width, height};
  const auto* crop = static_cast<const spa_meta_region*>(
      spa_buffer_find_meta_data(&b, SPA_META_VideoCrop, sizeof(spa_meta_region)));
  if (!crop || !spa_meta_region_is_valid(crop)) return a;
  const std::int64_t x = crop->region.position.x, y = crop->region.position.y;
  const std::int64_t w = crop->region.size.width, h = crop->region.size.height;
  if (x < 0 || y < 0 || x + w > width || y + h > height) return a;  // not inside the picture: ignored
  return {int(x), int(y), int(w), int(h)};
}

bool copy(const std::uint8_t* src, std::size_t stride, std::size_t available, std::uint32_t format, int width,
          int height, const Area& a, StreamFrame& out) {
  if (width <= 0 || height <= 0 || stride < std::size_t(width) * 4 ||
      stride * std::size_t(height - 1) + std::size_t(width) * 4 > available)
    return false;
  int bi = 0, gi = 1, ri = 2;
  channelOrder(format, bi, gi, ri);
  out.width = a.width;
  out.height = a.height;
  out.pixels.resize(std::size_t(a.width) * a.height * 4);
  const std::size_t rowBytes = std::size_t(a.width) * 4;
  for (int y = 0; y < a.height; ++y) {
    const std::uint8_t* s = src + stride * std::size_t(a.y + y) + std::size_t(a.x) * 4;
    std::uint8_t* o = out.pixels.data() + rowBytes * std::size_t(y);
    if (bi == 0 && gi == 1 && ri == 2) {
      std::memcpy(o, s, rowBytes);
      for (int x = 0; x < a.width; ++x) o[x * 4 + 3] = 0;
    } else {
      for (int x = 0; x < a.width; ++x, s += 4, o += 4) {
        o[0] = s[bi];
        o[1] = s[gi];
        o[2] = s[ri];
        o[3] = 0;
      }
    }
  }
  return true;
}

}  // namespace

BufferRead readVideoBuffer(const spa_buffer& b, std::uint32_t format, int width, int height, StreamFrame& out,
                           const char*& kind) {
  if (b.n_datas < 1 || !b.datas[0].chunk) return BufferRead::NoPicture;
  const auto* header =
      static_cast<const spa_meta_header*>(spa_buffer_find_meta_data(&b, SPA_META_Header, sizeof(spa_meta_header)));
  if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) return BufferRead::NoPicture;
  const spa_data& d = b.datas[0];
  // A buffer that carries only a cursor update (KDE) has no bytes at all.
  if (d.chunk->size == 0 || (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) return BufferRead::NoPicture;
  const std::size_t offset = d.chunk->offset;
  const std::size_t stride = d.chunk->stride > 0 ? std::size_t(d.chunk->stride) : std::size_t(width) * 4;
  if (offset > d.maxsize) return BufferRead::Unreadable;
  const Area a = cropArea(b, width, height);
  if (d.data) {
    kind = d.type == SPA_DATA_MemFd ? "memfd" : d.type == SPA_DATA_DmaBuf ? "dma-buf" : "shared memory";
    return copy(static_cast<const std::uint8_t*>(d.data) + offset, stride, d.maxsize - offset, format, width, height,
                a, out)
               ? BufferRead::Frame
               : BufferRead::Unreadable;
  }
  if (d.type != SPA_DATA_DmaBuf || d.fd < 0) return BufferRead::Unreadable;
  // A DMA-BUF PipeWire did not map: mapped for this one read, with the
  // driver told so that its caches are coherent. Only linear ones are
  // negotiated, so its bytes are plain rows.
  const std::size_t len = std::size_t(d.mapoffset) + d.maxsize;
  void* p = mmap(nullptr, len, PROT_READ, MAP_SHARED, int(d.fd), 0);
  if (p == MAP_FAILED) return BufferRead::Unreadable;
  dma_buf_sync sync{DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ};
  ioctl(int(d.fd), DMA_BUF_IOCTL_SYNC, &sync);
  const bool ok = copy(static_cast<const std::uint8_t*>(p) + d.mapoffset + offset, stride, d.maxsize - offset, format,
                       width, height, a, out);
  sync.flags = DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ;
  ioctl(int(d.fd), DMA_BUF_IOCTL_SYNC, &sync);
  munmap(p, len);
  if (ok) kind = "dma-buf";
  return ok ? BufferRead::Frame : BufferRead::Unreadable;
}

}  // namespace wnd
