// Grabs a rectangle N times through the window system's screen copy (into a
// new device bitmap each time, as the grab timer does) and N times through
// a bare MIT-SHM GetImage loop into one segment, in alternating order so
// both see the same machine load, and prints the ratio of the medians.
//   grab_bench [WIDTH HEIGHT COUNT]   (on $DISPLAY; 1920 1080 200 by default)
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

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
  const int n = argc > 3 ? std::atoi(argv[3]) : 200;
  try {
    wnd::Display d;
    if (d.width() < w || d.height() < h) {
      std::fprintf(stderr, "the screen (%dx%d) is smaller than %dx%d\n", d.width(), d.height(), w, h);
      return 2;
    }
    xcb_connection_t* c = d.conn();

    // The bare loop's own connection state: one segment, one request, the
    // reply awaited; no bitmap, no copy.
    const std::size_t bytes = std::size_t(w) * h * (d.bitsPerPixel() / 8);
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    void* addr = id >= 0 ? shmat(id, nullptr, 0) : reinterpret_cast<void*>(-1);
    if (addr == reinterpret_cast<void*>(-1)) {
      std::fprintf(stderr, "no shared memory\n");
      return 2;
    }
    const xcb_shm_seg_t seg = xcb_generate_id(c);
    xcb_shm_attach(c, seg, static_cast<std::uint32_t>(id), 0);
    shmctl(id, IPC_RMID, nullptr);

    wnd::ScreenGrabber grabber(d);
    const wnd::RECT r{0, 0, w, h};
    grabber.grab(r);  // warm both paths once
    std::vector<double> ours, bare;
    volatile std::uint8_t sink = 0;
    auto runOurs = [&](int i) {
      const auto t0 = Clock::now();
      const gdi::Bitmap b = grabber.grab(r);
      ours.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      sink = sink + b.bits()[std::size_t(i) % b.bits().size()];
    };
    auto runBare = [&] {
      const auto t0 = Clock::now();
      auto reply = xcb_shm_get_image_reply(
          c, xcb_shm_get_image(c, d.root(), 0, 0, std::uint16_t(w), std::uint16_t(h), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, seg, 0),
          nullptr);
      bare.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      std::free(reply);
    };
    // Alternating which goes first, so neither always finds the caches the
    // other left behind.
    for (int i = 0; i < n; ++i) {
      if (i % 2) {
        runOurs(i);
        runBare();
      } else {
        runBare();
        runOurs(i);
      }
    }
    xcb_shm_detach(c, seg);
    shmdt(addr);
    const double mo = median(ours), mb = median(bare);
    std::printf("screen grab %dx%d x%d (depth %d, %s)\n", w, h, n, d.depth(), grabber.usingShm() ? "MIT-SHM" : "GetImage");
    std::printf("  Kestrel grab (new bitmap each): median %.3f ms\n", mo);
    std::printf("  bare xcb_shm_get_image:         median %.3f ms\n", mb);
    std::printf("  ratio Kestrel / bare: %.2f\n", mo / mb);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
