#include "app/globalshortcuts.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QVariant>

#include "platform/window/grabsource.h"
#include "platform/window/hotkeys.h"

namespace app {

namespace {

QString nameOf(GlobalShortcuts::Command c) {
  return c == GlobalShortcuts::Command::StartStop ? QStringLiteral("Start/Stop") : QStringLiteral("Pause/UnPause");
}

// Whether the desktop's portal offers global shortcuts to programs.
bool desktopHasShortcutPortal() {
  QDBusInterface portal(QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
                        QStringLiteral("org.freedesktop.DBus.Properties"), QDBusConnection::sessionBus());
  if (!portal.isValid()) return false;
  const QDBusReply<QVariant> version = portal.call(QStringLiteral("Get"), QStringLiteral("org.freedesktop.portal.GlobalShortcuts"),
                                                   QStringLiteral("version"));
  return version.isValid() && version.value().toUInt() >= 1;
}

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
  const int key = k.key();
  Chord chord;
  if (key >= Qt::Key_A && key <= Qt::Key_Z)
    chord.keysym = std::uint32_t(key - Qt::Key_A + 'a');
  else if ((key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Space)
    chord.keysym = std::uint32_t(key);
  else if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
    chord.keysym = std::uint32_t(0xffbe + (key - Qt::Key_F1));
  else {
    static const std::pair<int, std::uint32_t> kKeys[] = {
        {Qt::Key_Escape, 0xff1b}, {Qt::Key_Tab, 0xff09},      {Qt::Key_Backspace, 0xff08}, {Qt::Key_Return, 0xff0d},
        {Qt::Key_Enter, 0xff8d},  {Qt::Key_Insert, 0xff63},   {Qt::Key_Delete, 0xffff},    {Qt::Key_Pause, 0xff13},
        {Qt::Key_Print, 0xff61},  {Qt::Key_Home, 0xff50},     {Qt::Key_End, 0xff57},       {Qt::Key_Left, 0xff51},
        {Qt::Key_Up, 0xff52},     {Qt::Key_Right, 0xff53},    {Qt::Key_Down, 0xff54},      {Qt::Key_PageUp, 0xff55},
        {Qt::Key_PageDown, 0xff56}, {Qt::Key_ScrollLock, 0xff14}, {Qt::Key_Minus, '-'},     {Qt::Key_Equal, '='},
        {Qt::Key_Comma, ','},     {Qt::Key_Period, '.'},      {Qt::Key_Slash, '/'},        {Qt::Key_Semicolon, ';'},
        {Qt::Key_BracketLeft, '['}, {Qt::Key_BracketRight, ']'}, {Qt::Key_Backslash, '\\'}, {Qt::Key_Apostrophe, '\''},
    };
    for (const auto& [qt, sym] : kKeys)
      if (qt == key) chord.keysym = sym;
  }
  if (!chord.keysym) return std::nullopt;
  const Qt::KeyboardModifiers m = k.keyboardModifiers();
  if (m & Qt::ShiftModifier) chord.modifiers |= wnd::MOD_SHIFT;
  if (m & Qt::ControlModifier) chord.modifiers |= wnd::MOD_CONTROL;
  if (m & Qt::AltModifier) chord.modifiers |= wnd::MOD_ALT;
  if (m & Qt::MetaModifier) chord.modifiers |= wnd::MOD_WIN;
  return chord;
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
    if (keys.isEmpty()) return;
    // Asked once: the portal may have to be started by the bus first.
    if (!portalAsked_) {
      portalAsked_ = true;
      hasPortal_ = desktopHasShortcutPortal();
    }
    if (!hasPortal_)
      tellOnce(QStringLiteral("This desktop offers programs no global shortcuts (it has no GlobalShortcuts portal), so "
                              "Kestrel's shortcuts do not work here. Give the desktop's own keyboard shortcuts these "
                              "commands instead: kestrel --stop, kestrel --pause, "
                              "kestrel --resume, kestrel --cancel."));
    else
      tellOnce(QStringLiteral("Kestrel does not take its shortcuts through this desktop's GlobalShortcuts portal yet, so "
                              "they do not work here. Give the desktop's own keyboard shortcuts these commands "
                              "instead: kestrel --stop, kestrel --pause, kestrel --resume, "
                              "kestrel --cancel."));
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
