#pragma once
// The two shortcuts that work while another program has the focus:
// Start/Stop and Pause/UnPause. Under X11 each is a hot key grabbed on the
// root window. In a Wayland session an X grab would see keys only while an
// X window has the focus, so the desktop's GlobalShortcuts portal is asked
// for them instead, with the options' keys as the ones wished for; the
// desktop binds them and its own settings change them from then on. A
// desktop without the portal is said to have none, once, with the commands
// that its own keyboard settings can run instead.
#include <QKeySequence>
#include <QMap>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>

namespace wnd {
class HotKeys;
class ShortcutPortal;
}

namespace app {

class GlobalShortcuts : public QObject {
  Q_OBJECT
 public:
  enum class Command { StartStop = 1, Pause = 2 };

  explicit GlobalShortcuts(QObject* parent = nullptr);
  ~GlobalShortcuts() override;

  // Makes `keys` (its first chord; empty: none) the command's shortcut,
  // letting go of the one before. A key that cannot be had is said in
  // notice(), once for each key and cause.
  void set(Command c, const QKeySequence& keys);
  // The shortcut held for the command (empty when none is).
  QKeySequence held(Command c) const;

  // The X keysym and RegisterHotKey modifiers of a chord; nothing for a
  // key with no keysym of its own here (a modifier alone, an unknown key).
  struct Chord {
    std::uint32_t keysym = 0;
    unsigned modifiers = 0;
  };
  static std::optional<Chord> chordOf(const QKeyCombination& k);

  // The key in the portal's shortcut format ("CTRL+ALT+SHIFT+F9"); empty
  // for one without a keysym of its own.
  static QString portalTrigger(const QKeyCombination& k);

  static QKeySequence defaultKeys(Command c);

 signals:
  void activated(app::GlobalShortcuts::Command c);
  // What the user should hear once: a key another program holds, a desktop
  // that offers no global shortcuts.
  void notice(const QString& text);
  // Every shortcut set is held now (after a notice, the problem is gone).
  void allHeld();
  // The keys the desktop's portal gave, in its words, and where to change
  // them: a fact to show, not a problem.
  void boundByDesktop(const QString& text);

 private:
  void tellOnce(const QString& text);
  void markHeld(Command c, const QKeySequence& keys);
  void askPortal();
  void describeBinding(const QMap<QString, QString>& triggers);

  QKeySequence wanted_[3];

  std::unique_ptr<wnd::HotKeys> hotKeys_;
  QKeySequence held_[3];
  std::set<QString> told_;
  bool portalAsked_ = false;
  bool hasPortal_ = false;
  std::unique_ptr<wnd::ShortcutPortal> portal_;
  QMap<QString, QString> bound_;  // what the portal gave: id -> its words for the keys
};

}  // namespace app
