// Hot keys on the session's X server: pressed with xdotool while a window
// of another client has the focus, with the lock keys on and off, and a key
// another client holds refused.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QCoreApplication>

#include "platform/window/display.h"
#include "platform/window/hotkeys.h"
#include "platform/window/xtest.h"
#include "support/media.h"
#include "support/modal.h"

namespace {

constexpr std::uint32_t kF9 = 0xffc6, kF10 = 0xffc7;
constexpr unsigned kThree = wnd::MOD_CONTROL | wnd::MOD_ALT | wnd::MOD_SHIFT;

void key(const char* keys) { ASSERT_EQ(testsupport::runCommand({"xdotool", "key", keys}), 0) << keys; }

// Time for a press that should not count to arrive all the same.
void settle() { testsupport::pumpUntil([] { return false; }, 150); }

struct Counter {
  int f9 = 0, other = 0;
};

TEST(HotKeys, PressedWhileAnotherClientHasTheFocusWhateverTheLocks) {
  wnd::Display other(nullptr);  // another program, holding the focus
  xtest::PatternWindow focused(other, 0, 0, 60, 40);
  xcb_set_input_focus(other.conn(), XCB_INPUT_FOCUS_POINTER_ROOT, focused.id(), XCB_CURRENT_TIME);
  xtest::sync(other);

  wnd::HotKeys keys;
  Counter n;
  QObject::connect(&keys, &wnd::HotKeys::pressed, [&](int id) { (id == 9 ? n.f9 : n.other)++; });
  ASSERT_EQ(keys.registerHotKey(9, kThree, kF9), wnd::HotKeyResult::Registered);

  key("ctrl+alt+shift+F9");
  ASSERT_TRUE(testsupport::pumpUntil([&] { return n.f9 == 1; }, 3000)) << "the hot key did not arrive";
  // With Num Lock on, then Caps Lock as well: the same key.
  key("Num_Lock");
  key("ctrl+alt+shift+F9");
  key("Caps_Lock");
  key("ctrl+alt+shift+F9");
  key("Caps_Lock");
  key("Num_Lock");
  EXPECT_TRUE(testsupport::pumpUntil([&] { return n.f9 == 3; }, 3000)) << n.f9 << " presses";
  // Other modifiers are another key: not the program's.
  key("ctrl+shift+F9");
  key("F9");
  settle();
  EXPECT_EQ(n.f9, 3);
  keys.unregisterHotKey(9);
  key("ctrl+alt+shift+F9");
  settle();
  EXPECT_EQ(n.f9, 3) << "a key let go of is not the program's any more";
  EXPECT_EQ(n.other, 0);
}

TEST(HotKeys, AKeyAnotherClientHoldsIsRefusedAndTheOthersStillWork) {
  wnd::Display other(nullptr);
  xcb_grab_key(other.conn(), 0, other.root(), XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_1,
               XCB_GRAB_ANY, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
  xtest::sync(other);

  wnd::HotKeys keys;
  int presses = 0;
  QObject::connect(&keys, &wnd::HotKeys::pressed, [&](int) { ++presses; });
  EXPECT_EQ(keys.registerHotKey(10, kThree, kF10), wnd::HotKeyResult::InUse);
  EXPECT_EQ(keys.registerHotKey(9, wnd::MOD_CONTROL | wnd::MOD_WIN, kF9), wnd::HotKeyResult::Registered);
  EXPECT_EQ(keys.registerHotKey(11, kThree, 0x10fffff), wnd::HotKeyResult::UnknownKey);
  key("ctrl+super+F9");
  EXPECT_TRUE(testsupport::pumpUntil([&] { return presses == 1; }, 3000));

  // Once the other program lets go, the key can be had.
  xcb_ungrab_key(other.conn(), XCB_GRAB_ANY, other.root(), XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_1);
  xtest::sync(other);
  EXPECT_EQ(keys.registerHotKey(10, kThree, kF10), wnd::HotKeyResult::Registered);
  key("ctrl+alt+shift+F10");
  EXPECT_TRUE(testsupport::pumpUntil([&] { return presses == 2; }, 3000));
}

}  // namespace
