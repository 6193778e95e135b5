// The screen-cast portal's grab against the X11 grab, on one Wayland
// desktop: N grabs of a rectangle through each, alternating which goes
// first, and the medians; then the CPU the PipeWire thread spends while the
// cast runs (each frame that arrives is converted and kept), over 3 s.
//   portal_grab_bench [WIDTH HEIGHT COUNT]   (1280 720 200 by default)
// Run inside scripts/wayland-session.sh with something moving on the
// monitor (the tests' waylandpattern repaints ten times a second). The X11
// grab reads XWayland's root window, which shows black there: only its
// cost is comparable.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/window/display.h"
#include "platform/window/screencast.h"
#include "platform/window/screengrab.h"

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double cpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int w = argc > 1 ? std::atoi(argv[1]) : 1280, h = argc > 2 ? std::atoi(argv[2]) : 720;
  const int n = argc > 3 ? std::atoi(argv[3]) : 200;
  try {
    wnd::PortalGrabber portal;
    portal.prepare();
    wnd::Display d;
    wnd::ScreenGrabber x11(d);
    const wnd::RECT r{0, 0, w, h};
    portal.grab(r);
    x11.grab(r);
    std::vector<double> tp, tx;
    volatile std::uint8_t sink = 0;
    auto timed = [&](wnd::GrabSource& g, std::vector<double>& into) {
      const auto t0 = Clock::now();
      const gdi::Bitmap b = g.grab(r);
      into.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      sink = sink + b.scanLine(h / 2)[w * 2];
    };
    for (int i = 0; i < n; ++i) {
      if (i % 2) {
        timed(portal, tp);
        timed(x11, tx);
      } else {
        timed(x11, tx);
        timed(portal, tp);
      }
    }
    const double mp = median(tp), mx = median(tx);
    std::printf("%dx%d, %d grabs each (portal frames: %s)\n", w, h, n, portal.bufferKind().c_str());
    std::printf("portal grab median %.3f ms, X11 grab median %.3f ms, ratio %.2f\n", mp, mx, mp / mx);
    const double c0 = cpuMs();
    QThread::msleep(3000);
    std::printf("while casting, idle: %.1f ms CPU per second (frame conversion on PipeWire's thread)\n",
                (cpuMs() - c0) / 3.0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "portal_grab_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
