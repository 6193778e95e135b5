#pragma once
// Keys that reach the program whichever window has the focus, as
// RegisterHotKey gives them: under X11 a passive grab of the key on the
// root window, made on the toolkit's own connection so that its presses
// arrive with the toolkit's events (a native event filter takes them).
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>
#include <map>
#include <vector>

namespace wnd {

// The modifiers a hot key is held with.
constexpr unsigned MOD_ALT = 0x1;
constexpr unsigned MOD_CONTROL = 0x2;
constexpr unsigned MOD_SHIFT = 0x4;
constexpr unsigned MOD_WIN = 0x8;

enum class HotKeyResult {
  Registered,
  InUse,       // another program holds the key with these modifiers
  UnknownKey,  // no key of this keyboard gives the keysym
  NoX11,       // the toolkit does not run on an X server
};

class HotKeys : public QObject, public QAbstractNativeEventFilter {
  Q_OBJECT
 public:
  explicit HotKeys(QObject* parent = nullptr);
  ~HotKeys() override;

  // Grabs `keysym` (an X keysym: XK_a is 0x61, XK_F9 0xffc6) held with
  // `modifiers`, with Caps Lock and Num Lock on or off; `id` names it in
  // pressed(). A key `id` held before is let go first.
  HotKeyResult registerHotKey(int id, unsigned modifiers, std::uint32_t keysym);
  void unregisterHotKey(int id);

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 signals:
  void pressed(int id);

 private:
  struct Grab {
    std::uint8_t keycode = 0;
    std::uint16_t mask = 0;  // the X modifier mask, without the locks
  };
  void ungrab(const Grab& g);
  std::vector<std::uint16_t> lockCombinations() const;
  void readKeyboard();

  void* conn_ = nullptr;  // the toolkit's xcb_connection_t, null without X11
  std::uint32_t root_ = 0;
  std::map<int, Grab> grabs_;
  bool keyboardRead_ = false;
  std::uint16_t numLock_ = 0, alt_ = 0, super_ = 0;
};

}  // namespace wnd
