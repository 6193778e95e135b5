#include "target/targetsupport.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <cstring>

#include "app/forms.h"
#include "app/main.h"
#include "framework/image.h"
#include "platform/window/display.h"
#include "support/media.h"
#include "support/modal.h"
#include "target/mirror.h"
#include "window/xtest.h"

namespace targettest {

Forms::Forms() { CreateForms(); }
Forms::~Forms() { DestroyForms(); }

wnd::RECT toRect(const forms::Bounds& b) { return {b.left, b.top, b.left + b.width, b.top + b.height}; }

wnd::RECT frameOnServer() {
  const auto r = wnd::GetWindowRect(static_cast<wnd::HWND>(Form4->winId()));
  return r ? *r : wnd::RECT{};
}

bool waitFrameAt(const wnd::RECT& r, int ms) {
  return testsupport::pumpUntil(
      [&] {
        // Framed by the window manager first: before that the server's
        // rectangle is the bare client's.
        return Form4->isVisible() && wnd::GetFrameExtents(static_cast<wnd::HWND>(Form4->winId())) &&
               frameOnServer() == r && toRect(forms::outerBounds(Form4)) == r;
      },
      ms);
}

void clickX() {
  const QPoint logical = Form4->Label3->mapToGlobal(Form4->Label3->rect().center());
  const double dpr = Form4->devicePixelRatioF();
  const QPoint origin = Form4->screen()->geometry().topLeft();
  const int x = int((logical.x() - origin.x()) * dpr) + origin.x(), y = int((logical.y() - origin.y()) * dpr) + origin.y();
  if (qEnvironmentVariableIsSet("KESTREL_DEBUG_X")) fprintf(stderr, "before click visible %d\n", Form4->isVisible());
  testsupport::runCommand({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1"});
  testsupport::pumpUntil([] { return !Form4->isVisible(); }, 3000);
  if (qEnvironmentVariableIsSet("KESTREL_DEBUG_X") && Form4->isVisible()) {
    fprintf(stderr, "second click\n");
    testsupport::runCommand({"xdotool", "click", "1"});
    testsupport::pumpUntil([] { return !Form4->isVisible(); }, 3000);
    fprintf(stderr, "visible after second: %d\n", Form4->isVisible());
  }
  if (qEnvironmentVariableIsSet("KESTREL_DEBUG_X") && false) {
    std::string o;
    testsupport::runCommand({"xdotool", "getmouselocation"}, &o);
    fprintf(stderr, "click %d,%d winId %llx geo %d,%d %dx%d mouse %s\n", x, y, (unsigned long long)Form4->winId(),
            Form4->geometry().x(), Form4->geometry().y(), Form4->width(), Form4->height(), o.c_str());
    testsupport::runCommand({"xprop", "-id", std::to_string(Form4->winId())}, &o);
    fprintf(stderr, "%s\n", o.c_str());
    testsupport::runCommand({"xwininfo", "-root", "-tree"}, &o);
    fprintf(stderr, "%s\n", o.c_str());
  }
}

bool waitForGrab(int ms) {
  Form1->frameGate = 0;
  return testsupport::pumpUntil([] { return Form1->frameGate == 1 && !Form1->Image1->picture().empty(); }, ms);
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
