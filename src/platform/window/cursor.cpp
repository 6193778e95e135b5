#include "platform/window/cursor.h"

#include <xcb/xfixes.h>

#include <cstring>

#include "platform/window/display.h"
#include "platform/window/xcbhandle.h"

namespace wnd {

CursorReader::CursorReader(Display& display) : display_(display) {}

CursorReader::~CursorReader() { drop(); }

bool CursorReader::available() {
  if (available_ >= 0) return available_ == 1;
  xcb_connection_t* c = display_.conn();
  available_ = 0;
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_xfixes_id);
  if (!ext || !ext->present) return false;
  // The server answers XFixes requests only once the client said which
  // version it speaks.
  XcbPtr<xcb_xfixes_query_version_reply_t> v(
      xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION), nullptr));
  available_ = v && v->major_version >= 2 ? 1 : 0;
  return available_ == 1;
}

void CursorReader::request() {
  drop();
  if (!available()) return;
  xcb_connection_t* c = display_.conn();
  sequence_ = xcb_xfixes_get_cursor_image(c).sequence;
  xcb_flush(c);
  pending_ = true;
}

void CursorReader::drop() {
  if (!pending_) return;
  pending_ = false;
  xcb_discard_reply(display_.conn(), sequence_);
}

std::optional<CursorImage> CursorReader::take() {
  if (!pending_) return std::nullopt;
  pending_ = false;
  xcb_generic_error_t* raw = nullptr;
  XcbPtr<xcb_xfixes_get_cursor_image_reply_t> r(
      xcb_xfixes_get_cursor_image_reply(display_.conn(), xcb_xfixes_get_cursor_image_cookie_t{sequence_}, &raw));
  XcbPtr<xcb_generic_error_t> err(raw);
  if (!r) return std::nullopt;
  const int n = xcb_xfixes_get_cursor_image_cursor_image_length(r.get());
  if (n < int(r->width) * int(r->height)) return std::nullopt;
  CursorImage img;
  img.left = int(r->x) - int(r->xhot);
  img.top = int(r->y) - int(r->yhot);
  img.width = r->width;
  img.height = r->height;
  const std::uint32_t* px = xcb_xfixes_get_cursor_image_cursor_image(r.get());
  img.argb.assign(px, px + std::size_t(img.width) * std::size_t(img.height));
  return img;
}

}  // namespace wnd
