#pragma once
// Where a recording's pictures come from. The session asks for a copy of
// its rectangle and goes on with its events while the pixels are on their
// way; the real grabber reads the program's screen source (the X server, or
// the screen-cast portal), and a test hands in one of its own.
#include "platform/gdi/bitmap.h"
#include "platform/window/windows.h"

namespace recording {

class Grabber {
 public:
  virtual ~Grabber() = default;
  // Asks for what the screen shows inside r (screen coordinates, device
  // pixels; black outside the screen). Throws std::exception with a
  // message for the user when the screen cannot be read.
  virtual void start(const wnd::RECT& r) = 0;
  // Whether the pixels asked for are in; never waits.
  virtual bool arrived() = 0;
  // Takes them. An empty bitmap when the copy was dropped on the way (the
  // screen source was replaced); throws as start does.
  virtual gdi::Bitmap finish() = 0;
  // The next copy shows the screen as it is from now on, not as a
  // compositor's last frame still showed it (wnd::GrabSource).
  virtual void awaitNewPicture() {}
  // Whether the copies started from now on show the mouse pointer drawn in
  // where it lies over the rectangle. A grabber that cannot ignores it.
  virtual void showPointer(bool /*on*/) {}
};

// The program's screen source (wnd::CurrentGrabSource), whichever it is at
// the moment of each copy.
class ScreenGrabber final : public Grabber {
 public:
  void start(const wnd::RECT& r) override;
  bool arrived() override;
  gdi::Bitmap finish() override;
  void awaitNewPicture() override;
  void showPointer(bool on) override { pointer_ = on; }

 private:
  bool pointer_ = false;
};

}  // namespace recording
