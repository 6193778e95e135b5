#pragma once
// X11 helpers for tests: a private X server, windows painted with a known
// pattern, and screenshots taken by an independent program (xwd).
#include <QProcess>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/window/display.h"

namespace xtest {

// An Xvfb of its own (on a display number the server picks itself), with
// openbox when asked; stopped at the end of the test.
class XServer {
 public:
  // Xvfb, or with `resizable` Xephyr inside the session's X server: the
  // Xvfb of Debian 12 refuses every RandR size change, Xephyr takes them.
  XServer(const QString& screen, bool withWm, bool withShm = true, bool resizable = false);
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  const std::string& name() const { return name_; }  // ":N"
  bool ok() const { return !name_.empty(); }
  void kill();

 private:
  QProcess server_;
  QProcess wm_;
  std::string name_;
};

// The colour of pattern pixel (x, y) as 0xRRGGBB: distinct in each row and
// column, so an offset of one pixel shows.
std::uint32_t patternColour(int x, int y);

// A window the window manager leaves alone (override-redirect), at (x, y),
// showing patternColour() in the display's own pixel format.
class PatternWindow {
 public:
  PatternWindow(wnd::Display& d, int x, int y, int w, int h);
  ~PatternWindow();
  PatternWindow(const PatternWindow&) = delete;
  PatternWindow& operator=(const PatternWindow&) = delete;
  std::uint32_t id() const { return id_; }

 private:
  wnd::Display& d_;
  std::uint32_t id_ = 0;
  void paint();
  std::uint32_t pixmap_ = 0;
  std::uint32_t gc_ = 0;
  int w_, h_;
};

// A pixel of the display's format (32-bit BGRx or 16-bit 565/555) for 0xRRGGBB.
std::uint32_t devicePixel(const wnd::Display& d, std::uint32_t rgb);

// The screen of `display` as xwd dumps it: the raw pixels of the server.
struct Shot {
  int width = 0;
  int height = 0;
  int bpp = 0;
  std::vector<std::uint8_t> data;  // tightly packed rows of bpp/8 bytes per pixel
  std::uint32_t pixel(int x, int y) const;
};
Shot xwdRoot(const std::string& display);

// Changes the size of the screen (the framebuffer) of `display` through
// RandR, as `xrandr --fb WxH` does; false when the server has no RandR or
// refuses. Needs no RandR library: two requests are sent by hand.
bool resizeScreen(const std::string& display, int width, int height);

// Waits until the server has handled everything sent so far on d.
void sync(wnd::Display& d);

}  // namespace xtest
