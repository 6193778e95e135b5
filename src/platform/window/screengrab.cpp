#include "platform/window/screengrab.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcbext.h>  // xcb_poll_for_reply

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>

#include "platform/gdi/blend.h"
#include "platform/window/cursor.h"
#include "platform/window/display.h"

namespace wnd {

// A System V shared-memory segment attached both here and in the server.
// It is marked for removal as soon as the server has attached it, so it
// cannot outlive the process even if the process dies. Its memory is held
// apart (Memory) because grabbed bitmaps keep it after the server has let
// go: it is unmapped when the last of them goes.
struct ScreenGrabber::Memory {
  void* addr = nullptr;
  std::size_t size = 0;
  ~Memory() {
    if (addr) shmdt(addr);
  }
};

struct ScreenGrabber::Segment {
  xcb_connection_t* conn = nullptr;
  xcb_shm_seg_t seg = 0;
  std::shared_ptr<Memory> memory;
  bool inFlight = false;  // the server is asked to copy into it

  // No bitmap holds the memory and no copy is on its way into it: the
  // server may write into it again.
  bool free() const {
    if (inFlight || memory.use_count() != 1) return false;
    // Whatever a thread that let go of a bitmap read from it came first.
    std::atomic_thread_fence(std::memory_order_acquire);
    return true;
  }

  ~Segment() {
    if (seg) {
      xcb_shm_detach(conn, seg);
      xcb_flush(conn);
    }
  }
};

namespace {

std::string errorText(const xcb_generic_error_t* e) {
  switch (e->error_code) {
    case XCB_MATCH: return "BadMatch";
    case XCB_DRAWABLE: return "BadDrawable";
    case XCB_VALUE: return "BadValue";
    case XCB_ALLOC: return "BadAlloc";
    case XCB_ACCESS: return "BadAccess";
    default: return "X error " + std::to_string(e->error_code);
  }
}

bool isMatchError(const xcb_generic_error_t* e) { return e && e->error_code == XCB_MATCH; }

[[noreturn]] void refused(const xcb_generic_error_t* e) {
  throw Error(std::string("The X server refused to copy the screen (") + (e ? errorText(e) : "connection lost") +
              ")");
}

}  // namespace

ScreenGrabber::ScreenGrabber(Display& display) : display_(display), shmUsable_(display.hasShm()) {}

// A copy asked for: where it goes and what becomes of it.
struct ScreenGrabber::Pending {
  RECT rect{};
  std::optional<gdi::Bitmap> done;  // made without a reply to wait for
  Segment* segment = nullptr;
  xcb_shm_get_image_cookie_t cookie{};
  XcbPtr<xcb_shm_get_image_reply_t> reply;
  XcbPtr<xcb_generic_error_t> error;
  bool arrived = false;
  int w = 0, h = 0, cw = 0, ch = 0, dx = 0, dy = 0;
  std::size_t srcStride = 0;
  bool whole = false;
};

ScreenGrabber::~ScreenGrabber() { dropPending(); }

const void* ScreenGrabber::segmentAddress() const { return lastSegment_; }

std::size_t ScreenGrabber::segmentCount() const { return segments_.size(); }

ScreenGrabber::Segment* ScreenGrabber::freeSegment(std::size_t bytes) {
  for (auto& s : segments_)
    if (s->memory->size >= bytes && s->free()) return s.get();
  // Free ones too small for this rectangle go; a larger one takes their place.
  std::erase_if(segments_, [bytes](const std::unique_ptr<Segment>& s) { return s->memory->size < bytes && s->free(); });
  if (segments_.size() >= kMaxSegments) return nullptr;

  auto s = std::make_unique<Segment>();
  s->conn = display_.conn();
  const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (id < 0) {
    if (segments_.empty()) shmUsable_ = false;
    return nullptr;
  }
  void* addr = shmat(id, nullptr, 0);
  if (addr == reinterpret_cast<void*>(-1)) {
    shmctl(id, IPC_RMID, nullptr);
    if (segments_.empty()) shmUsable_ = false;
    return nullptr;
  }
  s->memory = std::make_shared<Memory>();
  s->memory->addr = addr;
  s->memory->size = bytes;
  const xcb_shm_seg_t seg = xcb_generate_id(s->conn);
  XcbPtr<xcb_generic_error_t> err(
      xcb_request_check(s->conn, xcb_shm_attach_checked(s->conn, seg, static_cast<std::uint32_t>(id), 0)));
  shmctl(id, IPC_RMID, nullptr);
  if (err) {
    // A server on another machine cannot see our memory: plain GetImage.
    shmUsable_ = false;
    return nullptr;
  }
  s->seg = seg;
  segments_.push_back(std::move(s));
  return segments_.back().get();
}

void ScreenGrabber::copyRows(gdi::Bitmap& bmp, const std::uint8_t* src, std::size_t srcStride, int dx, int dy, int w,
                             int h) const {
  const int bytesPP = bmp.bitsPerPixel() / 8;
  const std::size_t n = static_cast<std::size_t>(w) * bytesPP;
  for (int y = 0; y < h; ++y) {
    std::uint8_t* dst = bmp.scanLine(dy + y) + static_cast<std::size_t>(dx) * bytesPP;
    std::memcpy(dst, src + srcStride * y, n);
    if (display_.msbFirst()) {
      for (std::size_t i = 0; i < n; i += bytesPP) std::reverse(dst + i, dst + i + bytesPP);
    }
  }
}

void ScreenGrabber::grabPlain(gdi::Bitmap& bmp, int x, int y, int w, int h, int dx, int dy) {
  xcb_connection_t* c = display_.conn();
  xcb_generic_error_t* raw = nullptr;
  XcbPtr<xcb_get_image_reply_t> img(xcb_get_image_reply(
      c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, display_.root(), static_cast<std::int16_t>(x),
                       static_cast<std::int16_t>(y), static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h),
                       ~0u),
      &raw));
  XcbPtr<xcb_generic_error_t> err(raw);
  if (!img) {
    lastRefusalWasMatch_ = isMatchError(err.get());
    refused(err.get());
  }
  const std::size_t len = xcb_get_image_data_length(img.get());
  const std::size_t stride = len / static_cast<std::size_t>(h);
  if (stride * 8 < static_cast<std::size_t>(w) * bmp.bitsPerPixel()) refused(nullptr);
  copyRows(bmp, xcb_get_image_data(img.get()), stride, dx, dy, w, h);
}

gdi::Bitmap ScreenGrabber::grab(const RECT& r) {
  if (cursor_) cursor_->drop();  // asked for with a copy this one replaces
  startCopy(r);
  return finishCopy();
}

void ScreenGrabber::startGrab(const RECT& r) {
  startCopy(r);
  if (!pointerShown()) {
    if (cursor_) cursor_->drop();
    return;
  }
  // Asked right behind the copy, so the server answers both for the same
  // moment; the two replies are taken together at the finish.
  if (!cursor_) cursor_ = std::make_unique<CursorReader>(display_);
  cursor_->request();
  pointerRect_ = r;
}

gdi::Bitmap ScreenGrabber::finishGrab() {
  gdi::Bitmap bmp = finishCopy();
  if (!cursor_ || !cursor_->requested()) return bmp;
  const std::optional<CursorImage> pointer = cursor_->take();
  // A copy over a segment may be drawn into: no one else holds it yet.
  if (pointer && !bmp.empty())
    gdi::AlphaBlendPremultiplied(bmp, pointer->left - pointerRect_.left, pointer->top - pointerRect_.top,
                                 pointer->width, pointer->height, pointer->argb);
  return bmp;
}

// The screen may change size under a recording (xrandr). Its size is asked
// for again at most once a second, and at once when the server refuses a
// copy with BadMatch, the sign of a rectangle that no longer fits; then the
// copy is tried once more with the new size.
void ScreenGrabber::startCopy(const RECT& r) {
  dropPending();
  const auto now = std::chrono::steady_clock::now();
  if (now - sizeCheckedAt_ >= std::chrono::seconds(1)) {
    display_.refreshSize();
    sizeCheckedAt_ = now;
  }
  try {
    pending_ = begin(r);
  } catch (const Error&) {
    if (!lastRefusalWasMatch_ || !display_.refreshSize()) throw;
    sizeCheckedAt_ = now;
    pending_ = begin(r);
  }
}

bool ScreenGrabber::grabArrived() {
  Pending* p = pending_.get();
  if (!p || p->done || p->arrived) return true;
  void* reply = nullptr;
  xcb_generic_error_t* error = nullptr;
  if (!xcb_poll_for_reply(display_.conn(), p->cookie.sequence, &reply, &error)) return false;
  p->reply.reset(static_cast<xcb_shm_get_image_reply_t*>(reply));
  p->error.reset(error);
  p->arrived = true;
  return true;
}

gdi::Bitmap ScreenGrabber::finishCopy() {
  if (!pending_) throw Error("No screen copy was started");
  const std::unique_ptr<Pending> p = std::move(pending_);
  try {
    return complete(*p);
  } catch (const Error&) {
    if (!lastRefusalWasMatch_ || !display_.refreshSize()) throw;
    sizeCheckedAt_ = std::chrono::steady_clock::now();
    const std::unique_ptr<Pending> again = begin(p->rect);
    return complete(*again);
  }
}

void ScreenGrabber::awaitReply(Pending& p) {
  if (p.arrived) return;
  xcb_generic_error_t* raw = nullptr;
  p.reply.reset(xcb_shm_get_image_reply(display_.conn(), p.cookie, &raw));
  p.error.reset(raw);
  p.arrived = true;
}

void ScreenGrabber::dropPending() {
  const std::unique_ptr<Pending> p = std::move(pending_);
  if (!p || !p->segment) return;
  awaitReply(*p);
  p->segment->inFlight = false;
}

std::unique_ptr<ScreenGrabber::Pending> ScreenGrabber::begin(const RECT& r) {
  lastRefusalWasMatch_ = false;
  const std::int64_t w = std::int64_t(r.right) - r.left, h = std::int64_t(r.bottom) - r.top;
  if (w < 1 || h < 1 || w > 65535 || h > 65535)
    throw Error("The capture rectangle " + std::to_string(w) + " x " + std::to_string(h) +
                " is empty or too large to copy");
  if (xcb_connection_has_error(display_.conn())) refused(nullptr);
  auto p = std::make_unique<Pending>();
  p->rect = r;

  // The part of the rectangle that lies on the screen.
  const std::int64_t x0 = std::max<std::int64_t>(r.left, 0), y0 = std::max<std::int64_t>(r.top, 0);
  const std::int64_t x1 = std::min<std::int64_t>(r.right, display_.width());
  const std::int64_t y1 = std::min<std::int64_t>(r.bottom, display_.height());
  const int cx = int(x0), cy = int(y0), cw = int(std::max<std::int64_t>(x1 - x0, 0)),
            ch = int(std::max<std::int64_t>(y1 - y0, 0));
  const int dx = int(x0 - r.left), dy = int(y0 - r.top);

  if (cw == 0 || ch == 0) {
    p->done = gdi::Bitmap::device(int(w), int(h), display_.pixelFormat());
    return p;
  }

  const int bpp = display_.bitsPerPixel(), pad = display_.scanlinePad();
  const std::size_t srcStride = static_cast<std::size_t>((std::int64_t(cw) * bpp + pad - 1) / pad * pad / 8);
  // Every byte of a bitmap written in full needs no clearing first; rows
  // with padding would leave it as the memory had it.
  const bool whole = cw == w && ch == h && gdi::rowBytes(w, bpp) * 8 == w * bpp;
  Segment* segment = shmUsable_ ? freeSegment(srcStride * static_cast<std::size_t>(ch)) : nullptr;
  if (!segment) {
    // No shared memory, or every segment still held by bitmaps (a writer
    // far behind): the pixels come in the reply, waited for here.
    gdi::Bitmap bmp = whole ? gdi::Bitmap::deviceUncleared(int(w), int(h), display_.pixelFormat())
                            : gdi::Bitmap::device(int(w), int(h), display_.pixelFormat());
    grabPlain(bmp, cx, cy, cw, ch, dx, dy);
    p->done = std::move(bmp);
    return p;
  }

  xcb_connection_t* c = display_.conn();
  p->cookie = xcb_shm_get_image(c, display_.root(), static_cast<std::int16_t>(cx), static_cast<std::int16_t>(cy),
                                static_cast<std::uint16_t>(cw), static_cast<std::uint16_t>(ch), ~0u,
                                XCB_IMAGE_FORMAT_Z_PIXMAP, segment->seg, 0);
  xcb_flush(c);
  segment->inFlight = true;
  p->segment = segment;
  p->w = int(w);
  p->h = int(h);
  p->cw = cw;
  p->ch = ch;
  p->dx = dx;
  p->dy = dy;
  p->srcStride = srcStride;
  p->whole = whole;
  return p;
}

gdi::Bitmap ScreenGrabber::complete(Pending& p) {
  if (p.done) return std::move(*p.done);
  awaitReply(p);
  p.segment->inFlight = false;
  if (!p.reply) {
    lastRefusalWasMatch_ = isMatchError(p.error.get());
    refused(p.error.get());
  }
  lastSegment_ = p.segment->memory->addr;
  auto* pixels = static_cast<std::uint8_t*>(p.segment->memory->addr);
  const int bpp = display_.bitsPerPixel();
  // Where the server's rows are the bitmap's rows, the bitmap is the
  // segment itself: no copy, and the segment is not written again until
  // the last copy of the bitmap (preview, recorder, writer) has gone.
  if (p.whole && !display_.msbFirst() && p.srcStride == std::size_t(gdi::rowBytes(p.w, bpp)))
    return gdi::Bitmap::adopt(p.w, p.h, display_.pixelFormat(), pixels, p.segment->memory);
  gdi::Bitmap bmp = p.whole ? gdi::Bitmap::deviceUncleared(p.w, p.h, display_.pixelFormat())
                            : gdi::Bitmap::device(p.w, p.h, display_.pixelFormat());
  copyRows(bmp, pixels, p.srcStride, p.dx, p.dy, p.cw, p.ch);
  return bmp;
}

}  // namespace wnd
