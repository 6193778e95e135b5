#pragma once
// The X display the stand-ins talk to, and what they need to know of it:
// the root window, the screen's size and how its pixels are laid out.
#include <xcb/xcb.h>

#include <stdexcept>
#include <string>

#include "platform/gdi/bitmap.h"
#include "platform/window/xcbhandle.h"

namespace wnd {

// Raised when the display cannot be used at all (no X server, a pixel
// layout the program does not know). Callers show the message.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Display {
 public:
  // Opens the display named by `name` (null: $DISPLAY).
  explicit Display(const char* name = nullptr);

  // The program's one connection, opened on first use from $DISPLAY. It is
  // separate from the toolkit's so that a grab never waits behind, or
  // steals, the toolkit's events; window ids are the server's and valid on
  // either.
  static Display& instance();

  xcb_connection_t* conn() const { return conn_.get(); }
  xcb_window_t root() const { return screen_->root; }
  // The screen's size as last seen: the connection's setup at first, then
  // whatever refreshSize() found (xrandr may resize the screen at any time).
  int width() const { return width_; }
  int height() const { return height_; }
  // Asks the server for the root window's current size; false when it did
  // not answer (the old size is kept).
  bool refreshSize();
  int depth() const { return screen_->root_depth; }

  // The pixel format of a device bitmap of this display.
  gdi::PixelFormat pixelFormat() const { return format_; }
  int bitsPerPixel() const { return bpp_; }
  int scanlinePad() const { return pad_; }
  bool msbFirst() const { return msbFirst_; }

  // Whether the server offers MIT-SHM (it may still refuse to attach a
  // segment, for instance over a network; the grabber then falls back).
  bool hasShm() const { return shm_; }

  // An interned atom (cached; 0 if the server refused).
  xcb_atom_t atom(const char* name);

  // Drops any X errors that unchecked requests left in the event queue.
  void drainEvents();

 private:
  ConnectionPtr conn_;
  xcb_screen_t* screen_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  gdi::PixelFormat format_ = gdi::PixelFormat::Rgb32;
  int bpp_ = 32;
  int pad_ = 32;
  bool msbFirst_ = false;
  bool shm_ = false;
  struct AtomCache;
  std::shared_ptr<AtomCache> atoms_;
};

}  // namespace wnd
