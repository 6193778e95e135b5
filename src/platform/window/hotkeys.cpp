#include "platform/window/hotkeys.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QGuiApplication>

#include "platform/window/xcbhandle.h"

namespace wnd {

namespace {

constexpr std::uint32_t kNumLock = 0xff7f, kAltL = 0xffe9, kAltR = 0xffea, kSuperL = 0xffeb, kSuperR = 0xffec;

xcb_connection_t* conn(void* c) { return static_cast<xcb_connection_t*>(c); }

}  // namespace

HotKeys::HotKeys(QObject* parent) : QObject(parent) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->connection()) return;
  conn_ = x11->connection();
  root_ = xcb_setup_roots_iterator(xcb_get_setup(conn(conn_))).data->root;
  QCoreApplication::instance()->installNativeEventFilter(this);
}

HotKeys::~HotKeys() {
  if (!conn_) return;
  if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
  for (const auto& [id, g] : grabs_) ungrab(g);
  xcb_flush(conn(conn_));
}

// Which modifier bits Num Lock, Alt and the logo key set on this keyboard
// (Mod2, Mod1 and Mod4 on nearly every one).
void HotKeys::readKeyboard() {
  if (keyboardRead_) return;
  keyboardRead_ = true;
  numLock_ = XCB_MOD_MASK_2;
  alt_ = XCB_MOD_MASK_1;
  super_ = XCB_MOD_MASK_4;
  xcb_connection_t* c = conn(conn_);
  const xcb_setup_t* setup = xcb_get_setup(c);
  const int count = setup->max_keycode - setup->min_keycode + 1;
  XcbPtr<xcb_get_keyboard_mapping_reply_t> km(
      xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, setup->min_keycode, std::uint8_t(count)), nullptr));
  XcbPtr<xcb_get_modifier_mapping_reply_t> mm(
      xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
  if (!km || !mm) return;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(km.get());
  const int per = km->keysyms_per_keycode;
  auto gives = [&](xcb_keycode_t code, std::uint32_t a, std::uint32_t b) {
    if (code < setup->min_keycode || code > setup->max_keycode) return false;
    for (int i = 0; i < per; ++i) {
      const xcb_keysym_t s = syms[(code - setup->min_keycode) * per + i];
      if (s == a || s == b) return true;
    }
    return false;
  };
  const xcb_keycode_t* mods = xcb_get_modifier_mapping_keycodes(mm.get());
  const int perMod = mm->keycodes_per_modifier;
  bool foundNum = false, foundAlt = false, foundSuper = false;
  for (int m = 3; m < 8; ++m)  // Mod1 to Mod5
    for (int i = 0; i < perMod; ++i) {
      const xcb_keycode_t code = mods[m * perMod + i];
      const auto bit = std::uint16_t(1u << m);
      if (!foundNum && gives(code, kNumLock, kNumLock)) numLock_ = bit, foundNum = true;
      if (!foundAlt && gives(code, kAltL, kAltR)) alt_ = bit, foundAlt = true;
      if (!foundSuper && gives(code, kSuperL, kSuperR)) super_ = bit, foundSuper = true;
    }
}

std::vector<std::uint16_t> HotKeys::lockCombinations() const {
  return {0, XCB_MOD_MASK_LOCK, numLock_, std::uint16_t(XCB_MOD_MASK_LOCK | numLock_)};
}

HotKeyResult HotKeys::registerHotKey(int id, unsigned modifiers, std::uint32_t keysym) {
  unregisterHotKey(id);
  if (!conn_) return HotKeyResult::NoX11;
  readKeyboard();
  xcb_connection_t* c = conn(conn_);
  const xcb_setup_t* setup = xcb_get_setup(c);
  const int count = setup->max_keycode - setup->min_keycode + 1;
  XcbPtr<xcb_get_keyboard_mapping_reply_t> km(
      xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, setup->min_keycode, std::uint8_t(count)), nullptr));
  if (!km) return HotKeyResult::UnknownKey;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(km.get());
  const int per = km->keysyms_per_keycode;
  Grab g;
  // The first key that gives the keysym unshifted or shifted.
  for (int k = 0; k < count && !g.keycode; ++k)
    for (int i = 0; i < per && i < 2; ++i)
      if (syms[k * per + i] == keysym) {
        g.keycode = std::uint8_t(setup->min_keycode + k);
        break;
      }
  if (!g.keycode) return HotKeyResult::UnknownKey;
  if (modifiers & MOD_SHIFT) g.mask |= XCB_MOD_MASK_SHIFT;
  if (modifiers & MOD_CONTROL) g.mask |= XCB_MOD_MASK_CONTROL;
  if (modifiers & MOD_ALT) g.mask |= alt_;
  if (modifiers & MOD_WIN) g.mask |= super_;

  // Reported to the root window even while one of the program's own
  // windows has the focus (owner_events off), so that the filter sees every press.
  std::vector<xcb_void_cookie_t> cookies;
  for (const std::uint16_t locks : lockCombinations())
    cookies.push_back(xcb_grab_key_checked(c, 0, root_, std::uint16_t(g.mask | locks), g.keycode,
                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
  bool taken = false;
  for (const xcb_void_cookie_t cookie : cookies) {
    XcbPtr<xcb_generic_error_t> e(xcb_request_check(c, cookie));
    if (e) taken = true;  // BadAccess: another client holds this grab
  }
  if (taken) {
    ungrab(g);  // the combinations that were granted go too
    xcb_flush(c);
    return HotKeyResult::InUse;
  }
  grabs_[id] = g;
  return HotKeyResult::Registered;
}

void HotKeys::ungrab(const Grab& g) {
  for (const std::uint16_t locks : lockCombinations())
    xcb_ungrab_key(conn(conn_), g.keycode, root_, std::uint16_t(g.mask | locks));
}

void HotKeys::unregisterHotKey(int id) {
  const auto it = grabs_.find(id);
  if (it == grabs_.end()) return;
  ungrab(it->second);
  xcb_flush(conn(conn_));
  grabs_.erase(it);
}

bool HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t" || grabs_.empty()) return false;
  const auto* ev = static_cast<const xcb_generic_event_t*>(message);
  const std::uint8_t type = ev->response_type & 0x7f;
  if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
  const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(ev);
  if (key->event != root_) return false;
  const auto locks = std::uint16_t(XCB_MOD_MASK_LOCK | numLock_);
  for (const auto& [id, g] : grabs_) {
    if (key->detail != g.keycode || (key->state & ~locks & 0xff) != g.mask) continue;
    if (type == XCB_KEY_PRESS) emit pressed(id);
    return true;
  }
  return false;
}

}  // namespace wnd
