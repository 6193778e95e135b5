#include "target/targetsupport.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <cstdio>
#include <cstring>

#include "support/programwindows.h"
#include "app/mainwindow.h"
#include "framework/image.h"
#include "framework/timer.h"
#include "platform/window/display.h"
#include "support/media.h"
#include "support/modal.h"
#include "target/captureframe.h"
#include "platform/window/xtest.h"

namespace targettest {

wnd::RECT toRect(const framework::Bounds& b) { return {b.left, b.top, b.left + b.width, b.top + b.height}; }

wnd::RECT frameOnServer() {
  const auto r = wnd::GetWindowRect(static_cast<wnd::HWND>(captureFrame()->winId()));
  return r ? *r : wnd::RECT{};
}

bool waitFrameAt(const wnd::RECT& r, int ms) {
  return testsupport::pumpUntil(
      [&] {
        // Framed by the window manager first: before that the server's
        // rectangle is the bare client's.
        return captureFrame()->isVisible() && wnd::GetFrameExtents(static_cast<wnd::HWND>(captureFrame()->winId())) &&
               frameOnServer() == r && toRect(framework::outerBounds(captureFrame())) == r;
      },
      ms);
}

bool waitFrameOver(wnd::HWND w, int ms) {
  return testsupport::pumpUntil(
      [&] {
        const auto r = wnd::GetWindowRect(w);
        return r && captureFrame()->isVisible() && wnd::GetFrameExtents(static_cast<wnd::HWND>(captureFrame()->winId())) &&
               frameOnServer() == *r && toRect(framework::outerBounds(captureFrame())) == *r;
      },
      ms);
}

void clickX() {
  // Let the frame lay out its contents at its new size, as a person sees
  // the "X" settle before clicking it.
  testsupport::pumpFor(300);
  int x = 0, y = 0;
  auto locate = [&] {
    const QPoint logical = testsupport::control<QLabel>(captureFrame(), "Label3")->mapToGlobal(testsupport::control<QLabel>(captureFrame(), "Label3")->rect().center());
    const double dpr = captureFrame()->devicePixelRatioF();
    const QPoint origin = captureFrame()->screen()->geometry().topLeft();
    x = int((logical.x() - origin.x()) * dpr) + origin.x();
    y = int((logical.y() - origin.y()) * dpr) + origin.y();
    const wnd::RECT f = frameOnServer();
    return x > f.left && x < f.right && y > f.top && y < f.bottom;
  };
  // A person points at the X, sees it under the pointer, then clicks; the
  // pointer's arrival (Qt's enter event) shows the frame takes input there.
  // Under load a click is now and then lost while the window manager is
  // still settling the frame; a person clicks again.
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (attempt > 0) fprintf(stderr, "clickX: the click on the X did not register; clicking again\n");
    testsupport::pumpUntil(locate, 3000);
    testsupport::runCommand({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y)});
    testsupport::pumpUntil([] { return testsupport::control<QLabel>(captureFrame(), "Label3")->underMouse(); }, 2000);
    testsupport::runCommand({"xdotool", "click", "1"});
    if (testsupport::pumpUntil([] { return !captureFrame()->isVisible(); }, 2000)) return;
  }
}

bool waitForGrab(int ms) {
  const auto before = session().grabCount();
  return testsupport::pumpUntil(
      [before] { return session().grabCount() > before && !mainWindow()->preview()->picture().empty(); }, ms);
}

long patternMismatches(const gdi::Bitmap& b, const wnd::RECT& r, int px, int py) {
  wnd::Display& d = wnd::Display::instance();
  long bad = 0;
  const int bytes = b.bitsPerPixel() / 8;
  for (int y = 0; y < b.height(); ++y)
    for (int x = 0; x < b.width(); ++x) {
      const int sx = r.left + x, sy = r.top + y;
      std::uint32_t got = 0;
      std::memcpy(&got, b.scanLine(y) + x * bytes, static_cast<std::size_t>(bytes));
      if (bytes == 4) got &= 0xffffff;
      const bool on = sx >= 0 && sy >= 0 && sx < d.width() && sy < d.height();
      const std::uint32_t want = on ? xtest::devicePixel(d, xtest::patternColour(sx - px, sy - py)) : 0;
      if (got != want) ++bad;
    }
  return bad;
}

XTerm::XTerm(const std::string& title, const std::string& geometry) {
  proc.start(QStringLiteral("xterm"), {"-title", QString::fromStdString(title), "-geometry",
                                       QString::fromStdString(geometry), "-bg", "#203040"});
  std::string out;
  if (testsupport::runCommand({"xdotool", "search", "--sync", "--limit", "1", "--name", title}, &out, 15000) == 0)
    id = static_cast<wnd::HWND>(std::stoul(out));
}

XTerm::~XTerm() {
  proc.terminate();
  proc.waitForFinished(3000);
}

bool activate(wnd::HWND w) {
  return testsupport::runCommand({"xdotool", "windowactivate", "--sync", std::to_string(w)}) == 0;
}

}  // namespace targettest
