#include "platform/window/videobuffer.h"

#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include <algorithm>
#include <cmath>
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

#include "platform/gdi/blend.h"
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

bool readCursorMeta(const spa_buffer& b, StreamCursor& cursor) {
  const spa_meta* meta = spa_buffer_find_meta(&b, SPA_META_Cursor);
  if (!meta || !meta->data || meta->size < sizeof(spa_meta_cursor)) return false;
  const auto* c = static_cast<const spa_meta_cursor*>(meta->data);
  if (c->id == 0) {
    cursor.visible = false;
    return true;
  }
  cursor.visible = true;
  cursor.x = c->position.x;
  cursor.y = c->position.y;
  cursor.hotX = c->hotspot.x;
  cursor.hotY = c->hotspot.y;
  // A new picture: where the producer put it, when it lies wholly inside
  // the metadata; a producer's mistake there must not read past it.
  const std::size_t at = c->bitmap_offset;
  if (at < sizeof(spa_meta_cursor) || at > meta->size || meta->size - at < sizeof(spa_meta_bitmap)) return true;
  const auto* bm = reinterpret_cast<const spa_meta_bitmap*>(static_cast<const std::uint8_t*>(meta->data) + at);
  const std::int64_t w = bm->size.width, h = bm->size.height;
  if (w <= 0 || h <= 0 || w > 1024 || h > 1024) return true;
  const std::int64_t stride = bm->stride > 0 ? bm->stride : w * 4;
  const std::int64_t end = std::int64_t(at) + bm->offset + stride * (h - 1) + w * 4;
  int bi = 0, gi = 0, ri = 0;
  if (stride < w * 4 || end > std::int64_t(meta->size) || !channelOrder(bm->format, bi, gi, ri)) return true;
  const bool alpha = bm->format == SPA_VIDEO_FORMAT_BGRA || bm->format == SPA_VIDEO_FORMAT_RGBA ||
                     bm->format == SPA_VIDEO_FORMAT_ARGB || bm->format == SPA_VIDEO_FORMAT_ABGR;
  const int ai = 6 - bi - gi - ri;
  const std::uint8_t* px = static_cast<const std::uint8_t*>(meta->data) + at + bm->offset;
  cursor.width = int(w);
  cursor.height = int(h);
  cursor.argb.resize(std::size_t(w * h));
  for (std::int64_t y = 0; y < h; ++y)
    for (std::int64_t x = 0; x < w; ++x) {
      const std::uint8_t* p = px + y * stride + x * 4;
      // The desktops send the pointer with straight alpha; blending wants
      // it premultiplied.
      const std::uint32_t a = alpha ? p[ai] : 255;
      auto pre = [a](std::uint32_t v) { return (v * a + 127) / 255; };
      cursor.argb[std::size_t(y * w + x)] = (a << 24) | (pre(p[ri]) << 16) | (pre(p[gi]) << 8) | pre(p[bi]);
    }
  return true;
}

void drawStreamCursor(gdi::Bitmap& bmp, const RECT& r, const RECT& area, int frameWidth, int frameHeight,
                      const StreamCursor& c) {
  if (!c.visible || c.width <= 0 || c.height <= 0 || c.argb.size() < std::size_t(c.width) * c.height) return;
  if (frameWidth <= 0 || frameHeight <= 0 || area.width() <= 0 || area.height() <= 0) return;
  const double sx = double(area.width()) / frameWidth, sy = double(area.height()) / frameHeight;
  // The picture's top-left on the screen, and its size there.
  const int left = area.left + int(std::floor((c.x - c.hotX) * sx));
  const int top = area.top + int(std::floor((c.y - c.hotY) * sy));
  const int w = std::max(1, int(std::lround(c.width * sx))), h = std::max(1, int(std::lround(c.height * sy)));
  if (w == c.width && h == c.height) {
    gdi::AlphaBlendPremultiplied(bmp, left - r.left, top - r.top, w, h, c.argb);
    return;
  }
  std::vector<std::uint32_t> scaled(std::size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int fx = std::min(c.width - 1, int((x + 0.5) / sx)), fy = std::min(c.height - 1, int((y + 0.5) / sy));
      scaled[std::size_t(y) * w + x] = c.argb[std::size_t(fy) * c.width + fx];
    }
  gdi::AlphaBlendPremultiplied(bmp, left - r.left, top - r.top, w, h, scaled);
}

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
