// The foreground window and window rectangles, on real X servers.
#include <gtest/gtest.h>

#include <QProcess>
#include <QThread>

#include "platform/window/display.h"
#include "platform/window/windows.h"
#include "support/media.h"
#include "platform/window/xtest.h"

using testsupport::runCommand;

namespace {

std::string displayName() { return qEnvironmentVariable("DISPLAY").toStdString(); }

// Starts an X client and waits until xdotool finds its window by name.
struct Client {
  QProcess proc;
  wnd::HWND id = 0;
  Client(const std::string& display, const QString& program, const QStringList& args, const std::string& title) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(display));
    proc.setProcessEnvironment(env);
    proc.start(program, args);
    std::string out;
    if (runCommand({"xdotool", "search", "--sync", "--limit", "1", "--name", title}, &out, 15000) == 0)
      id = static_cast<wnd::HWND>(std::stoul(out));
  }
  ~Client() {
    proc.terminate();
    proc.waitForFinished(3000);
  }
};

// The root's child around the window, found by xwininfo: the window
// manager's frame, independently of _NET_FRAME_EXTENTS.
wnd::RECT frameByTree(wnd::HWND w) {
  wnd::Display& d = wnd::Display::instance();
  xcb_window_t cur = w;
  for (;;) {
    wnd::XcbPtr<xcb_query_tree_reply_t> t(xcb_query_tree_reply(d.conn(), xcb_query_tree(d.conn(), cur), nullptr));
    if (!t || t->parent == t->root) break;
    cur = t->parent;
  }
  std::string out;
  runCommand({"xwininfo", "-id", std::to_string(cur)}, &out);
  auto field = [&](const std::string& key) {
    const auto p = out.find(key);
    return p == std::string::npos ? -99999 : std::stoi(out.substr(p + key.size()));
  };
  const int x = field("Absolute upper-left X:"), y = field("Absolute upper-left Y:");
  const int bw = field("Border width:");
  return {x - bw, y - bw, x + field("Width:") + bw, y + field("Height:") + bw};
}

}  // namespace

// Under openbox: the active window is the one xdotool activated, and its
// outer rectangle holds the title bar above the client area.
TEST(WindowSystem, ForegroundWindowAndOuterRectangleUnderOpenbox) {
  Client xterm(displayName(), "xterm", {"-title", "kestrel-fg-a", "-geometry", "40x10+150+160"}, "kestrel-fg-a");
  // xclock never takes the focus (its input hint is off): a second xterm.
  Client clock(displayName(), "xterm", {"-title", "kestrel-fg-b", "-geometry", "20x6+600+300"}, "kestrel-fg-b");
  ASSERT_NE(xterm.id, 0u);
  ASSERT_NE(clock.id, 0u);

  ASSERT_EQ(runCommand({"xdotool", "windowactivate", "--sync", std::to_string(xterm.id)}), 0);
  EXPECT_EQ(wnd::GetForegroundWindow(), xterm.id);
  const auto r = wnd::GetWindowRect(xterm.id);
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, frameByTree(xterm.id));
  const auto ext = wnd::GetFrameExtents(xterm.id);
  ASSERT_TRUE(ext);
  EXPECT_GT(ext->top, ext->bottom);  // the caption is inside

  ASSERT_EQ(runCommand({"xdotool", "windowactivate", "--sync", std::to_string(clock.id)}), 0);
  EXPECT_EQ(wnd::GetForegroundWindow(), clock.id);
  const auto rc = wnd::GetWindowRect(clock.id);
  ASSERT_TRUE(rc);
  EXPECT_EQ(*rc, frameByTree(clock.id));
  EXPECT_EQ(rc->left, 600);  // openbox puts the frame where the client asked
  EXPECT_EQ(rc->top, 300);
}

// A window that is gone answers "no rectangle", never an X error; the
// root (the desktop) is not a foreground window.
TEST(WindowSystem, VanishedWindowsAndNoWindow) {
  wnd::Display& d = wnd::Display::instance();
  EXPECT_FALSE(wnd::GetWindowRect(0));
  EXPECT_FALSE(wnd::GetFrameExtents(0));
  wnd::HWND gone = 0;
  {
    xtest::PatternWindow p(d, 10, 10, 20, 20);
    gone = p.id();
    EXPECT_EQ(wnd::GetWindowRect(gone), (wnd::RECT{10, 10, 30, 30}));
  }
  EXPECT_FALSE(wnd::GetWindowRect(gone));
  EXPECT_FALSE(wnd::GetFrameExtents(gone));
  wnd::RaiseWithoutActivating(gone);
  xtest::sync(d);
  EXPECT_FALSE(xcb_connection_has_error(d.conn()));
  EXPECT_EQ(wnd::GetWindowRect(d.root()), (wnd::RECT{0, 0, d.width(), d.height()}));
}

// Without a window manager nobody publishes _NET_ACTIVE_WINDOW: the input
// focus decides, taken up to its top-level window.
TEST(WindowSystem, InputFocusWithoutWindowManager) {
  xtest::XServer x(QStringLiteral("640x480x24"), false);
  ASSERT_TRUE(x.ok());
  wnd::Display d(x.name().c_str());
  EXPECT_EQ(wnd::GetForegroundWindow(d), 0u);  // focus is PointerRoot at start

  xcb_connection_t* c = d.conn();
  const xcb_window_t top = xcb_generate_id(c), child = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, top, d.root(), 30, 40, 200, 100, 3, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, child, top, 5, 5, 50, 50, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_map_window(c, top);
  xcb_map_window(c, child);
  xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, child, XCB_CURRENT_TIME);
  xtest::sync(d);
  EXPECT_EQ(wnd::GetForegroundWindow(d), top);
  // No frame: the window itself, its border included.
  EXPECT_EQ(wnd::GetWindowRect(d, top), (wnd::RECT{30, 40, 236, 146}));
  EXPECT_FALSE(wnd::GetFrameExtents(d, top));

  xcb_set_input_focus(c, XCB_INPUT_FOCUS_NONE, XCB_WINDOW_NONE, XCB_CURRENT_TIME);
  xtest::sync(d);
  EXPECT_EQ(wnd::GetForegroundWindow(d), 0u);
}
