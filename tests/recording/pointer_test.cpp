// The mouse pointer in a session's grabs, on X servers of their own: a
// cursor of a known shape set on a window at a known place, the pointer
// moved there, and each grab compared with the screen as xwd reads it with
// that shape laid on it.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QThread>
#include <cstring>
#include <memory>

#include "platform/window/display.h"
#include "platform/window/screengrab.h"
#include "platform/window/xtest.h"
#include "recording/grabber.h"
#include "recording/session.h"

namespace {

// The cursor: 11 x 9, foreground red, background blue, clear in its
// top-left 2 x 2 corner; its hot spot at (3, 4).
constexpr int kW = 11, kH = 9, kHotX = 3, kHotY = 4;
constexpr std::uint32_t kFore = 0xff0000, kBack = 0x0000ff;
bool inMask(int x, int y) { return !(x < 2 && y < 2); }
bool inSource(int x, int y) { return (x + 2 * y) % 3 == 0; }

// Where the pointer is put, and the window that carries the cursor.
constexpr int kWinX = 40, kWinY = 30, kWinW = 120, kWinH = 90;
constexpr int kPointerX = 100, kPointerY = 80;

xcb_pixmap_t bitmapOf(xcb_connection_t* c, xcb_window_t root, bool (*bit)(int, int)) {
  const xcb_pixmap_t p = xcb_generate_id(c);
  xcb_create_pixmap(c, 1, p, root, kW, kH);
  const xcb_gcontext_t gc = xcb_generate_id(c);
  std::uint32_t fg = 0;
  xcb_create_gc(c, gc, p, XCB_GC_FOREGROUND, &fg);
  const xcb_rectangle_t all{0, 0, kW, kH};
  xcb_poly_fill_rectangle(c, p, gc, 1, &all);
  fg = 1;
  xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &fg);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      if (bit(x, y)) {
        const xcb_point_t pt{std::int16_t(x), std::int16_t(y)};
        xcb_poly_point(c, XCB_COORD_MODE_ORIGIN, p, gc, 1, &pt);
      }
  xcb_free_gc(c, gc);
  return p;
}

// Gives `window` the cursor above and moves the pointer onto it.
void setCursorAndPointer(wnd::Display& d, xcb_window_t window) {
  xcb_connection_t* c = d.conn();
  const xcb_pixmap_t source = bitmapOf(c, d.root(), inSource), mask = bitmapOf(c, d.root(), inMask);
  const xcb_cursor_t cursor = xcb_generate_id(c);
  xcb_create_cursor(c, cursor, source, mask, 0xffff, 0, 0, 0, 0, 0xffff, kHotX, kHotY);
  xcb_change_window_attributes(c, window, XCB_CW_CURSOR, &cursor);
  xcb_warp_pointer(c, XCB_NONE, d.root(), 0, 0, 0, 0, kPointerX, kPointerY);
  xcb_free_pixmap(c, source);
  xcb_free_pixmap(c, mask);
  xcb_free_cursor(c, cursor);
  xtest::sync(d);
}

std::uint32_t bitmapPixel(const gdi::Bitmap& b, int x, int y) {
  const int bytes = b.bitsPerPixel() / 8;
  std::uint32_t p = 0;
  std::memcpy(&p, b.scanLine(y) + x * bytes, static_cast<std::size_t>(bytes));
  return bytes == 4 ? p & 0xffffff : p;
}

// What the user sees at (sx, sy): the cursor where it covers the screen,
// else the screen.
std::uint32_t seen(wnd::Display& d, const xtest::Shot& screen, int sx, int sy, bool withPointer) {
  const int cx = sx - (kPointerX - kHotX), cy = sy - (kPointerY - kHotY);
  if (withPointer && cx >= 0 && cy >= 0 && cx < kW && cy < kH && inMask(cx, cy))
    return xtest::devicePixel(d, inSource(cx, cy) ? kFore : kBack);
  const std::uint32_t p = screen.pixel(sx, sy);
  return screen.bpp == 32 ? p & 0xffffff : p;
}

// Pixels of the grab that are not what the user sees.
long wrongPixels(wnd::Display& d, const gdi::Bitmap& b, const wnd::RECT& r, const xtest::Shot& s, bool withPointer) {
  long bad = 0;
  for (int y = 0; y < b.height(); ++y)
    for (int x = 0; x < b.width(); ++x)
      if (bitmapPixel(b, x, y) != seen(d, s, r.left + x, r.top + y, withPointer)) ++bad;
  return bad;
}

// One preview grab of `r` through the session and the program's screen
// source, as the preview and the file get it.
gdi::Bitmap sessionGrab(recording::Session& session, const wnd::RECT& r) {
  session.setArea(r);
  const std::uint64_t before = session.grabCount();
  session.beat();
  for (int i = 0; i < 2000 && session.grabCount() == before; ++i) {
    QThread::usleep(500);
    session.poll();
  }
  return session.latestFrame();
}

class PointerInFrames : public ::testing::TestWithParam<const char*> {};

TEST_P(PointerInFrames, DrawnWhereItLiesOnlyWhenShown) {
  xtest::XServer x(QString::fromLatin1(GetParam()), false);
  ASSERT_TRUE(x.ok());
  wnd::Display d(x.name().c_str());
  xtest::PatternWindow window(d, kWinX, kWinY, kWinW, kWinH);
  setCursorAndPointer(d, window.id());
  wnd::SetGrabSource(std::make_unique<wnd::ScreenGrabber>(d));
  const xtest::Shot screen = xtest::xwdRoot(x.name());
  ASSERT_EQ(screen.width, d.width());

  recording::Session session(std::make_unique<recording::ScreenGrabber>());
  session.startPreview();
  // The pointer wholly inside, cut by the rectangle's left and top edges,
  // and away from it.
  const wnd::RECT inside{60, 50, 160, 110}, cut{kPointerX - 1, kPointerY - 2, kPointerX + 40, kPointerY + 30},
      away{0, 0, 30, 20};
  for (const wnd::RECT& r : {inside, cut, away}) {
    SCOPED_TRACE(testing::Message() << "rectangle at " << r.left << "," << r.top);
    session.showPointer(false);
    const gdi::Bitmap plain = sessionGrab(session, r);
    ASSERT_EQ(plain.width(), r.width());
    EXPECT_EQ(wrongPixels(d, plain, r, screen, false), 0) << "without the pointer the frame is the screen";
    session.showPointer(true);
    const gdi::Bitmap shown = sessionGrab(session, r);
    ASSERT_EQ(shown.width(), r.width());
    EXPECT_EQ(wrongPixels(d, shown, r, screen, true), 0) << "the pointer laid on the screen";
  }
  // The cursor really lies in the first two: the test sees it.
  EXPECT_NE(seen(d, screen, kPointerX, kPointerY, true), seen(d, screen, kPointerX, kPointerY, false));

  // A grab asked for directly (a snapshot, the check before a preview) is
  // the screen alone, whatever the session shows.
  EXPECT_EQ(wrongPixels(d, wnd::CurrentGrabSource().grab(inside), inside, screen, false), 0);
  session.stopPreview();
  wnd::SetGrabSource(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Depths, PointerInFrames, ::testing::Values("320x240x24", "320x240x16"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                           return std::string(i.index == 0 ? "Depth24" : "Depth16");
                         });

}  // namespace
