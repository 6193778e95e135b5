// A window's outer bounds count the frame widths the window manager
// publishes, on a real X server.
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

#include "framework/bounds.h"
#include "platform/window/display.h"
#include "support/modal.h"

using testsupport::pumpUntil;

namespace {

// Writes the frame widths the way a window manager does.
void publishFrame(const QWidget& w, const framework::Margins& m) {
  wnd::Display& d = wnd::Display::instance();
  const std::uint32_t v[4] = {std::uint32_t(m.left), std::uint32_t(m.right), std::uint32_t(m.top),
                              std::uint32_t(m.bottom)};
  xcb_change_property(d.conn(), XCB_PROP_MODE_REPLACE, xcb_window_t(w.winId()), d.atom("_NET_FRAME_EXTENTS"),
                      XCB_ATOM_CARDINAL, 32, 4, v);
  xcb_flush(d.conn());
}

bool marginsBecome(const QWidget& w, const framework::Margins& want) {
  return pumpUntil(
      [&] {
        const framework::Margins m = framework::frameMargins(&w);
        return m.left == want.left && m.top == want.top && m.right == want.right && m.bottom == want.bottom;
      },
      3000);
}

}  // namespace

// The widths are remembered rather than asked for at every grab, so each
// change the window manager makes must still come through: while the
// window is shown, and while it is hidden.
TEST(FrameMargins, FollowWhatTheWindowManagerPublishes) {
  // Out of the window manager's hands, so that only this test writes them.
  QWidget w(nullptr, Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
  w.setGeometry(50, 60, 120, 80);
  w.show();
  ASSERT_TRUE(pumpUntil([&] { return w.windowHandle() && w.windowHandle()->isExposed(); }, 3000));
  EXPECT_TRUE(marginsBecome(w, {0, 0, 0, 0}));

  publishFrame(w, {3, 20, 4, 5});
  ASSERT_TRUE(marginsBecome(w, {3, 20, 4, 5}));
  const framework::Bounds b = framework::outerBounds(&w);
  EXPECT_EQ(b.left, 47);
  EXPECT_EQ(b.top, 40);
  EXPECT_EQ(b.width, 127);
  EXPECT_EQ(b.height, 105);

  publishFrame(w, {1, 2, 3, 4});
  EXPECT_TRUE(marginsBecome(w, {1, 2, 3, 4}));

  w.hide();
  ASSERT_TRUE(pumpUntil([&] { return !w.isVisible(); }, 1000));
  publishFrame(w, {6, 7, 8, 9});
  w.show();
  EXPECT_TRUE(marginsBecome(w, {6, 7, 8, 9}));
}

// A window manager that lets go of a hidden window may move it: mutter puts
// the client where the frame's corner was. The hidden window's bounds stay
// those it was seen with, or the ones the program gives it meanwhile.
TEST(FrameMargins, AHiddenWindowKeepsTheBoundsItWasSeenWith) {
  QWidget w(nullptr, Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
  w.setGeometry(50, 60, 120, 80);
  w.show();
  ASSERT_TRUE(pumpUntil([&] { return w.windowHandle() && w.windowHandle()->isExposed(); }, 3000));
  publishFrame(w, {0, 20, 0, 0});
  ASSERT_TRUE(marginsBecome(w, {0, 20, 0, 0}));
  const framework::Bounds seen = framework::outerBounds(&w);
  EXPECT_EQ(seen, (framework::Bounds{50, 40, 120, 100}));

  w.hide();
  pumpUntil([] { return false; }, 300);  // the unmap through
  wnd::Display& d = wnd::Display::instance();
  const std::uint32_t corner[2] = {50, 40};
  xcb_configure_window(d.conn(), xcb_window_t(w.winId()), XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, corner);
  xcb_flush(d.conn());
  ASSERT_TRUE(pumpUntil([&] { return w.geometry().top() == 40; }, 3000));
  EXPECT_EQ(framework::outerBounds(&w), seen);

  framework::setOuterBounds(&w, {10, 30, 120, 100});
  EXPECT_EQ(framework::outerBounds(&w), (framework::Bounds{10, 30, 120, 100}));
}
