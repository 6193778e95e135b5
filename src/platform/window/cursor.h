#pragma once
// The mouse pointer as the user sees it, read from the X server through
// XFixes (GetCursorImage): its picture, whatever program set it, and where
// it lies. The X server's copy of the screen never holds the pointer, so a
// recording that shows it draws this picture in.
#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace wnd {

class Display;

struct CursorImage {
  // Where the picture's top-left lies on the screen: the pointer's place
  // less its hot spot.
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  // width x height pixels, rows top-down, 0xAARRGGBB premultiplied.
  std::vector<std::uint32_t> argb;
};

class CursorReader {
 public:
  explicit CursorReader(Display& display);
  CursorReader(const CursorReader&) = delete;
  CursorReader& operator=(const CursorReader&) = delete;
  ~CursorReader();

  // Whether the server has XFixes 2 or later (asked once, at the first use).
  bool available();
  // Asks for the pointer's picture and place and goes on; a request not
  // yet taken is dropped.
  void request();
  bool requested() const { return pending_; }
  // The answer to the last request, waited for if need be; nothing when
  // none was asked for, the server has no XFixes or refused.
  std::optional<CursorImage> take();
  // Forgets the request not yet taken.
  void drop();

 private:
  Display& display_;
  int available_ = -1;  // -1: not asked yet
  bool pending_ = false;
  unsigned int sequence_ = 0;
};

}  // namespace wnd
