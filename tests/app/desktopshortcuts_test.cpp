// The global shortcuts on a Wayland desktop that has the GlobalShortcuts
// portal (KDE Plasma: scripts/wayland-session.sh --desktop kde): the
// desktop binds the keys Kestrel asks for, the options dialog says which,
// and their presses, sent as the keyboard sends them, run the commands.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProcess>
#include <cstdlib>
#include <vector>

#include "app/globalshortcuts.h"
#include "app/optionsdialog.h"
#include "support/modal.h"
#include "support/programwindows.h"

namespace {

using Command = app::GlobalShortcuts::Command;

// Ctrl, Alt and Shift held with `key` (an evdev code) through KWin's own
// input, as a keyboard would press them.
void pressWithThreeModifiers(int key) {
  const char* click = std::getenv("KESTREL_KWIN_CLICK");
  ASSERT_TRUE(click && *click) << "runs on the KDE test desktop (scripts/wayland-session.sh --desktop kde)";
  EXPECT_EQ(QProcess::execute(QString::fromLocal8Bit(click),
                              {QStringLiteral("--keys"), QStringLiteral("29"), QStringLiteral("56"), QStringLiteral("42"),
                               QString::number(key)}),
            0);
}

constexpr int kF9 = 67, kF10 = 68;

TEST(DesktopShortcuts, TheDesktopBindsTheKeysAskedForAndTheirPressesRunTheCommands) {
  std::vector<Command> ran;
  QString said;
  {
    app::GlobalShortcuts shortcuts;
    QObject::connect(&shortcuts, &app::GlobalShortcuts::activated, [&](Command c) { ran.push_back(c); });
    QObject::connect(&shortcuts, &app::GlobalShortcuts::boundByDesktop, [&](const QString& t) { said = t; });
    QObject::connect(&shortcuts, &app::GlobalShortcuts::notice, [](const QString& t) {
      ADD_FAILURE() << t.toStdString();
    });
    shortcuts.set(Command::StartStop, app::GlobalShortcuts::defaultKeys(Command::StartStop));
    shortcuts.set(Command::Pause, app::GlobalShortcuts::defaultKeys(Command::Pause));
    ASSERT_TRUE(testsupport::pumpUntil([&] { return !said.isEmpty(); }, 20000)) << "the portal never answered";
    EXPECT_TRUE(said.contains(QStringLiteral("Start/Stop to Ctrl+Alt+Shift+F9, Pause/UnPause to Ctrl+Alt+Shift+F10")))
        << said.toStdString();

    pressWithThreeModifiers(kF10);
    EXPECT_TRUE(testsupport::pumpUntil([&] { return !ran.empty(); }, 5000));
    pressWithThreeModifiers(kF9);
    EXPECT_TRUE(testsupport::pumpUntil([&] { return ran.size() >= 2; }, 5000));
    EXPECT_EQ(ran, (std::vector<Command>{Command::Pause, Command::StartStop}));
  }

  // The next run asks for other keys: the desktop keeps the ones it bound
  // (its settings own them now), the note says so, and they still work.
  said.clear();
  ran.clear();
  app::GlobalShortcuts again;
  QObject::connect(&again, &app::GlobalShortcuts::activated, [&](Command c) { ran.push_back(c); });
  QObject::connect(&again, &app::GlobalShortcuts::boundByDesktop, [&](const QString& t) { said = t; });
  again.set(Command::StartStop, QKeySequence(QStringLiteral("Ctrl+Alt+F11")));
  ASSERT_TRUE(testsupport::pumpUntil([&] { return !said.isEmpty(); }, 20000));
  EXPECT_TRUE(said.contains(QStringLiteral("Start/Stop to Ctrl+Alt+Shift+F9"))) << said.toStdString();
  EXPECT_TRUE(said.contains(QStringLiteral("change them in its own shortcut settings"))) << said.toStdString();
  pressWithThreeModifiers(kF9);
  EXPECT_TRUE(testsupport::pumpUntil([&] { return !ran.empty(); }, 5000));
  EXPECT_EQ(ran, std::vector<Command>{Command::StartStop});
}

// The program's own options dialog shows what the desktop bound, whole,
// and no box comes up at start-up.
TEST(DesktopShortcuts, TheOptionsDialogShowsTheDesktopsKeys) {
  testsupport::ProgramWindows program(testsupport::ProgramWindows::Preferences::Loaded);
  auto* note = testsupport::control<QLabel>(optionsDialog(), "ShortcutsNote");
  ASSERT_TRUE(testsupport::pumpUntil([&] { return note->text().contains(QStringLiteral("The desktop binds")); }, 20000))
      << note->text().toStdString();
  EXPECT_FALSE(note->isHidden());
  EXPECT_TRUE(note->text().contains(QStringLiteral("Ctrl+Alt+Shift+F9"))) << note->text().toStdString();
  optionsDialog()->show();
  testsupport::pumpUntil([&] { return note->height() >= note->heightForWidth(note->width()); }, 1000);
  EXPECT_GE(note->height(), note->heightForWidth(note->width())) << "the note is cut";
  optionsDialog()->hide();
}

}  // namespace
