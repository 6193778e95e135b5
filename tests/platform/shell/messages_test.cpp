// Registered messages, message windows and the notification-area record.
#include <QSystemTrayIcon>
#include <cstddef>
#include <gtest/gtest.h>
#include <vector>

#include "platform/shell/shell.h"
#include "support/modal.h"

using namespace shell;
using testsupport::pumpFor;
using testsupport::pumpUntil;

static_assert(offsetof(NOTIFYICONDATA, hWnd) == 4);
static_assert(offsetof(NOTIFYICONDATA, uID) == 8);
static_assert(offsetof(NOTIFYICONDATA, uFlags) == 12);
static_assert(offsetof(NOTIFYICONDATA, uCallbackMessage) == 16);
static_assert(offsetof(NOTIFYICONDATA, hIcon) == 20);
static_assert(offsetof(NOTIFYICONDATA, szTip) == 24);

TEST(RegisterWindowMessage, SameNameSameNumberInRegisteredRange) {
  const UINT a = RegisterWindowMessageA("KESTREL_TEST_A");
  const UINT b = RegisterWindowMessageA("KESTREL_TEST_B");
  EXPECT_GE(a, kFirstRegisteredMessage);
  EXPECT_LE(a, kLastRegisteredMessage);
  EXPECT_NE(a, b);
  EXPECT_EQ(RegisterWindowMessageA("KESTREL_TEST_A"), a);
  EXPECT_EQ(RegisterWindowMessageA("kestrel_test_a"), a) << "names compare without case";
  EXPECT_EQ(RegisterWindowMessageA(""), 0u);
  EXPECT_EQ(RegisterWindowMessageA(nullptr), 0u);
}

TEST(MessageWindow, PostedMessagesArriveLaterInOrderAndNeverAtADeadWindow) {
  struct Got {
    UINT msg;
    WPARAM w;
    LPARAM l;
  };
  std::vector<Got> got;
  auto win = std::make_unique<MessageWindow>([&](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    got.push_back({m, w, l});
    return 0;
  });
  const HWND h = win->handle();
  EXPECT_TRUE(IsWindow(h));
  EXPECT_EQ(PostMessageA(h, 0xC123, 1, 2), 1);
  EXPECT_EQ(PostMessageA(h, 0xC124, 3, -4), 1);
  EXPECT_TRUE(got.empty()) << "posting queues; it does not call";
  ASSERT_TRUE(pumpUntil([&] { return got.size() == 2; }, 2000));
  EXPECT_EQ(got[0].msg, 0xC123u);
  EXPECT_EQ(got[0].w, 1u);
  EXPECT_EQ(got[1].l, -4);

  // Destroyed with a message still queued: the message is dropped.
  EXPECT_EQ(PostMessageA(h, 0xC125, 0, 0), 1);
  win.reset();
  pumpFor(50);
  EXPECT_EQ(got.size(), 2u);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(PostMessageA(h, 0xC125, 0, 0), 0);
  EXPECT_EQ(DefWindowProcA(h, 0x10, 0, 0), 0);
}

TEST(MessageWindow, ProcedureMayDestroyItsOwnWindow) {
  std::unique_ptr<MessageWindow> win;
  int calls = 0;
  win = std::make_unique<MessageWindow>([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
    ++calls;
    win.reset();
    return 0;
  });
  PostMessageA(win->handle(), 0xC200, 0, 0);
  ASSERT_TRUE(pumpUntil([&] { return calls == 1; }, 2000));
  EXPECT_EQ(win, nullptr);
}

TEST(NotifyIcon, TrayActivationsBecomeTheShellsMouseMessages) {
  UINT out[2] = {};
  ASSERT_EQ(mouseMessagesFor(QSystemTrayIcon::Trigger, out), 1);
  EXPECT_EQ(out[0], WM_LBUTTONUP);
  // A double click: the first click's Trigger, then double-click and up.
  ASSERT_EQ(mouseMessagesFor(QSystemTrayIcon::DoubleClick, out), 2);
  EXPECT_EQ(out[0], WM_LBUTTONDBLCLK);
  EXPECT_EQ(out[1], WM_LBUTTONUP);
  ASSERT_EQ(mouseMessagesFor(QSystemTrayIcon::Context, out), 1);
  EXPECT_EQ(out[0], WM_RBUTTONUP);
  ASSERT_EQ(mouseMessagesFor(QSystemTrayIcon::MiddleClick, out), 1);
  EXPECT_EQ(out[0], WM_MBUTTONUP);
  EXPECT_EQ(mouseMessagesFor(QSystemTrayIcon::Unknown, out), 0);
}

TEST(NotifyIcon, RecordOfTheWrongSizeIsRefusedBeforeTheShellSeesIt) {
  struct Count : NotifyArea {
    int calls = 0;
    BOOL notify(DWORD, const NOTIFYICONDATA&) override { return ++calls, 1; }
  } area;
  NotifyArea* old = setNotifyArea(&area);
  NOTIFYICONDATA d{};
  d.cbSize = 504;  // a later, larger version of the record
  EXPECT_EQ(Shell_NotifyIconA(NIM_ADD, &d), 0);
  EXPECT_EQ(Shell_NotifyIconA(NIM_ADD, nullptr), 0);
  EXPECT_EQ(area.calls, 0);
  d.cbSize = 88;
  EXPECT_EQ(Shell_NotifyIconA(NIM_ADD, &d), 1);
  EXPECT_EQ(area.calls, 1);
  setNotifyArea(old);
}

// The real area on a platform without a tray: the record is kept and can
// be modified and deleted once, exactly as with a tray host.
TEST(NotifyIcon, RealAreaKeepsOneIconPerWindowAndId) {
  NOTIFYICONDATA d{};
  d.cbSize = 88;
  d.hWnd = HWND(0x7777);
  d.uID = 3;
  d.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  Shell_NotifyIconA(NIM_ADD, &d);
  EXPECT_EQ(Shell_NotifyIconA(NIM_ADD, &d), 0) << "a second add of the same icon is refused";
  d.uFlags = NIF_TIP;
  EXPECT_EQ(Shell_NotifyIconA(NIM_MODIFY, &d), 1);
  EXPECT_EQ(Shell_NotifyIconA(NIM_DELETE, &d), 1);
  EXPECT_EQ(Shell_NotifyIconA(NIM_DELETE, &d), 0);
  EXPECT_EQ(Shell_NotifyIconA(NIM_MODIFY, &d), 0);
}

TEST(IconHandle, StableForTheObjectZeroWhileEmpty) {
  Icon icon;
  EXPECT_EQ(icon.handle(), HICON(0));
  QPixmap px(16, 16);
  px.fill(Qt::red);
  icon.assign(QIcon(px));
  const HICON h = icon.handle();
  EXPECT_NE(h, HICON(0));
  EXPECT_FALSE(iconFromHandle(h).isNull());
  icon.assign(icon.icon());  // its own icon: nothing happens
  EXPECT_EQ(icon.handle(), h);
  EXPECT_TRUE(iconFromHandle(HICON(0)).isNull());
}
