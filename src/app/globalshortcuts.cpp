#include "app/globalshortcuts.h"

#include <QStringList>
#include <QTimer>

#include "platform/window/grabsource.h"
#include "platform/window/hotkeys.h"
#include "platform/window/shortcutportal.h"

namespace app {

namespace {

QString nameOf(GlobalShortcuts::Command c) {
  return c == GlobalShortcuts::Command::StartStop ? QStringLiteral("Start/Stop") : QStringLiteral("Pause/UnPause");
}

// The X keysym of a key and its name in the keysym tables, which is what
// the portal's shortcut format takes; nothing for a key without either.
struct Keysym {
  std::uint32_t code = 0;
  QString name;
};

std::optional<Keysym> keysymOf(int key) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) {
    const char c = char(key - Qt::Key_A + 'a');
    return Keysym{std::uint32_t(c), QString(QLatin1Char(c))};
  }
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return Keysym{std::uint32_t(key), QString(QLatin1Char(char(key)))};
  if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
    return Keysym{std::uint32_t(0xffbe + (key - Qt::Key_F1)), QStringLiteral("F%1").arg(key - Qt::Key_F1 + 1)};
  struct Named {
    int qt;
    std::uint32_t code;
    const char* name;
  };
  static const Named kKeys[] = {
      {Qt::Key_Space, 0x20, "space"},         {Qt::Key_Escape, 0xff1b, "Escape"},
      {Qt::Key_Tab, 0xff09, "Tab"},           {Qt::Key_Backspace, 0xff08, "BackSpace"},
      {Qt::Key_Return, 0xff0d, "Return"},     {Qt::Key_Enter, 0xff8d, "KP_Enter"},
      {Qt::Key_Insert, 0xff63, "Insert"},     {Qt::Key_Delete, 0xffff, "Delete"},
      {Qt::Key_Pause, 0xff13, "Pause"},       {Qt::Key_Print, 0xff61, "Print"},
      {Qt::Key_Home, 0xff50, "Home"},         {Qt::Key_End, 0xff57, "End"},
      {Qt::Key_Left, 0xff51, "Left"},         {Qt::Key_Up, 0xff52, "Up"},
      {Qt::Key_Right, 0xff53, "Right"},       {Qt::Key_Down, 0xff54, "Down"},
      {Qt::Key_PageUp, 0xff55, "Page_Up"},    {Qt::Key_PageDown, 0xff56, "Page_Down"},
      {Qt::Key_ScrollLock, 0xff14, "Scroll_Lock"}, {Qt::Key_Minus, '-', "minus"},
      {Qt::Key_Equal, '=', "equal"},          {Qt::Key_Comma, ',', "comma"},
      {Qt::Key_Period, '.', "period"},        {Qt::Key_Slash, '/', "slash"},
      {Qt::Key_Semicolon, ';', "semicolon"},  {Qt::Key_BracketLeft, '[', "bracketleft"},
      {Qt::Key_BracketRight, ']', "bracketright"}, {Qt::Key_Backslash, '\\', "backslash"},
      {Qt::Key_Apostrophe, '\'', "apostrophe"},
  };
  for (const Named& k : kKeys)
    if (k.qt == key) return Keysym{k.code, QLatin1String(k.name)};
  return std::nullopt;
}

const char* portalId(GlobalShortcuts::Command c) { return c == GlobalShortcuts::Command::StartStop ? "startstop" : "pause"; }

const QString kCommandsInstead = QStringLiteral(
    "Give the desktop's own keyboard shortcuts these commands instead: kestrel --stop, kestrel --pause, "
    "kestrel --resume, kestrel --cancel.");

}  // namespace

GlobalShortcuts::GlobalShortcuts(QObject* parent) : QObject(parent) {
  if (wnd::InWaylandSession()) return;
  hotKeys_ = std::make_unique<wnd::HotKeys>();
  connect(hotKeys_.get(), &wnd::HotKeys::pressed, this, [this](int id) {
    // Queued: the command may open a dialog, never inside the X event filter.
    QMetaObject::invokeMethod(this, [this, id] { emit activated(Command(id)); }, Qt::QueuedConnection);
  });
}

GlobalShortcuts::~GlobalShortcuts() = default;

QKeySequence GlobalShortcuts::defaultKeys(Command c) {
  // Three modifiers and a function key: taken by no common desktop or
  // program (Ctrl+Alt+Shift+R starts GNOME's and Cinnamon's own screen
  // recorders), and out of reach of a slip of the hand.
  return QKeySequence(c == Command::StartStop ? QStringLiteral("Ctrl+Alt+Shift+F9") : QStringLiteral("Ctrl+Alt+Shift+F10"));
}

QKeySequence GlobalShortcuts::held(Command c) const { return held_[int(c)]; }

std::optional<GlobalShortcuts::Chord> GlobalShortcuts::chordOf(const QKeyCombination& k) {
  const std::optional<Keysym> sym = keysymOf(k.key());
  if (!sym) return std::nullopt;
  Chord chord;
  chord.keysym = sym->code;
  const Qt::KeyboardModifiers m = k.keyboardModifiers();
  if (m & Qt::ShiftModifier) chord.modifiers |= wnd::MOD_SHIFT;
  if (m & Qt::ControlModifier) chord.modifiers |= wnd::MOD_CONTROL;
  if (m & Qt::AltModifier) chord.modifiers |= wnd::MOD_ALT;
  if (m & Qt::MetaModifier) chord.modifiers |= wnd::MOD_WIN;
  return chord;
}

QString GlobalShortcuts::portalTrigger(const QKeyCombination& k) {
  const std::optional<Keysym> sym = keysymOf(k.key());
  if (!sym) return QString();
  QString text;
  const Qt::KeyboardModifiers m = k.keyboardModifiers();
  if (m & Qt::ControlModifier) text += QStringLiteral("CTRL+");
  if (m & Qt::AltModifier) text += QStringLiteral("ALT+");
  if (m & Qt::ShiftModifier) text += QStringLiteral("SHIFT+");
  if (m & Qt::MetaModifier) text += QStringLiteral("LOGO+");
  return text + sym->name;
}

void GlobalShortcuts::askPortal() {
  connect(portal_.get(), &wnd::ShortcutPortal::activated, this, [this](const QString& id) {
    for (const Command c : {Command::StartStop, Command::Pause})
      if (id == QLatin1String(portalId(c)))
        // Queued: the command may open a dialog, never inside the bus's dispatch.
        QMetaObject::invokeMethod(this, [this, c] { emit activated(c); }, Qt::QueuedConnection);
  });
  connect(portal_.get(), &wnd::ShortcutPortal::bound, this, [this](const QMap<QString, QString>& triggers) {
    bound_ = triggers;
    describeBinding(triggers);
  });
  connect(portal_.get(), &wnd::ShortcutPortal::changed, this, [this](const QMap<QString, QString>& triggers) {
    bound_ = triggers;
    describeBinding(triggers);
  });
  connect(portal_.get(), &wnd::ShortcutPortal::failed, this, [this](const QString& reason) {
    tellOnce(QStringLiteral("The desktop's GlobalShortcuts portal gave Kestrel no shortcuts (%1), so they do not work "
                            "here. ")
                 .arg(reason) +
             kCommandsInstead);
  });
  std::vector<wnd::ShortcutPortal::Shortcut> shortcuts;
  for (const Command c : {Command::StartStop, Command::Pause}) {
    const QKeySequence& keys = wanted_[int(c)];
    shortcuts.push_back({QLatin1String(portalId(c)),
                         c == Command::StartStop ? QStringLiteral("Start or stop the recording")
                                                 : QStringLiteral("Pause or resume the recording"),
                         keys.isEmpty() ? QString() : portalTrigger(keys[0])});
  }
  portal_->bind(shortcuts);
}

void GlobalShortcuts::describeBinding(const QMap<QString, QString>& triggers) {
  QStringList parts;
  for (const Command c : {Command::StartStop, Command::Pause}) {
    const QString keys = triggers.value(QLatin1String(portalId(c)));
    parts << QStringLiteral("%1 to %2").arg(nameOf(c), keys.isEmpty() ? QStringLiteral("no key yet") : keys);
  }
  emit boundByDesktop(QStringLiteral("The desktop binds Kestrel's shortcuts: %1. It keeps them: change them in its own "
                                     "shortcut settings (Kestrel asked for the keys above).")
                          .arg(parts.join(QStringLiteral(", "))));
}

void GlobalShortcuts::tellOnce(const QString& text) {
  if (!told_.insert(text).second) return;
  emit notice(text);
}

void GlobalShortcuts::markHeld(Command c, const QKeySequence& keys) {
  held_[int(c)] = keys;
  for (const Command other : {Command::StartStop, Command::Pause})
    if (!wanted_[int(other)].isEmpty() && held_[int(other)].isEmpty()) return;
  emit allHeld();
}

void GlobalShortcuts::set(Command c, const QKeySequence& keys) {
  const int id = int(c);
  held_[id] = QKeySequence();
  wanted_[id] = keys.isEmpty() ? QKeySequence() : QKeySequence(keys[0]);
  if (!hotKeys_) {
    if (portal_) {
      // The desktop keeps what it bound: a key chosen here changes nothing
      // there, and the note says so again.
      if (!bound_.isEmpty()) describeBinding(bound_);
      return;
    }
    if (keys.isEmpty()) return;
    // Asked once: the portal may have to be started by the bus first.
    if (!portalAsked_) {
      portalAsked_ = true;
      hasPortal_ = wnd::ShortcutPortal::available();
    }
    if (!hasPortal_) {
      tellOnce(QStringLiteral("This desktop offers programs no global shortcuts (it has no GlobalShortcuts portal), so "
                              "Kestrel's shortcuts do not work here. ") +
               kCommandsInstead);
      return;
    }
    // Both commands in one request, once the other's key is set as well.
    portal_ = std::make_unique<wnd::ShortcutPortal>();
    QTimer::singleShot(0, this, &GlobalShortcuts::askPortal);
    return;
  }
  if (keys.isEmpty()) {
    hotKeys_->unregisterHotKey(id);
    markHeld(c, {});
    return;
  }
  const QString text = keys[0].toCombined() ? QKeySequence(keys[0]).toString(QKeySequence::NativeText) : QString();
  const std::optional<Chord> chord = chordOf(keys[0]);
  if (!chord) {
    hotKeys_->unregisterHotKey(id);
    tellOnce(QStringLiteral("%1 cannot be a global shortcut (for %2): choose a letter, a digit or a function key "
                            "with modifiers.")
                 .arg(text, nameOf(c)));
    return;
  }
  // One key for both commands would run only one of them.
  const Command other = c == Command::StartStop ? Command::Pause : Command::StartStop;
  if (held_[int(other)] == QKeySequence(keys[0])) {
    hotKeys_->unregisterHotKey(id);
    tellOnce(QStringLiteral("%1 is the shortcut for %2 already: choose another for %3 in Options > Setup.")
                 .arg(text, nameOf(other), nameOf(c)));
    return;
  }
  switch (hotKeys_->registerHotKey(id, chord->modifiers, chord->keysym)) {
    case wnd::HotKeyResult::Registered:
      markHeld(c, QKeySequence(keys[0]));
      return;
    case wnd::HotKeyResult::InUse:
      tellOnce(QStringLiteral("The shortcut %1 (for %2) is taken by another program: choose another in Options > Setup.")
                   .arg(text, nameOf(c)));
      return;
    case wnd::HotKeyResult::UnknownKey:
      tellOnce(QStringLiteral("No key of this keyboard gives %1 (for %2): choose another shortcut in Options > Setup.")
                   .arg(text, nameOf(c)));
      return;
    case wnd::HotKeyResult::NoX11:
      return;  // offscreen: no desktop to take keys from
  }
}

}  // namespace app
