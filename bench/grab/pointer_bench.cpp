// What drawing the mouse pointer costs a grab: the rectangle grabbed N
// times in two steps (as a recording does) with the pointer shown and N
// times without, in alternating order so both see the same machine load;
// prints both medians and the difference. Move the pointer onto the
// rectangle first (xdotool mousemove 100 100) so that it is drawn.
//   pointer_bench [WIDTH HEIGHT COUNT]   (on $DISPLAY; 1920 1080 300 by default)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/window/display.h"
#include "platform/window/screengrab.h"

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int w = argc > 1 ? std::atoi(argv[1]) : 1920, h = argc > 2 ? std::atoi(argv[2]) : 1080;
  const int n = argc > 3 ? std::atoi(argv[3]) : 300;
  try {
    wnd::Display d;
    wnd::ScreenGrabber grabber(d);
    const wnd::RECT r{0, 0, std::min(w, d.width()), std::min(h, d.height())};
    std::vector<double> with, without;
    auto once = [&](bool pointer) {
      grabber.showPointer(pointer);
      const auto t0 = Clock::now();
      grabber.startGrab(r);
      const gdi::Bitmap b = grabber.finishGrab();
      (pointer ? with : without).push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      return b.width();
    };
    once(true);
    once(false);
    with.clear();
    without.clear();
    for (int i = 0; i < n; ++i) {
      once(i % 2 == 0);
      once(i % 2 != 0);
    }
    const double a = median(with), b = median(without);
    std::printf("%dx%d, %d grabs each: pointer shown %.3f ms, not shown %.3f ms (median), difference %.3f ms\n",
                r.width(), r.height(), n, a, b, a - b);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
