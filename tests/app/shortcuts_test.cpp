// The global shortcuts in the program's windows on the session's X server:
// keys another program holds are said once, under the shortcuts in the
// options dialog and in a box while the dialog is open, and a key chosen
// instead is held and clears the note.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QMessageBox>

#include "app/globalshortcuts.h"
#include "app/optionsdialog.h"
#include "platform/window/display.h"
#include "platform/window/xtest.h"
#include "support/modal.h"
#include "support/programwindows.h"

namespace {

constexpr std::uint16_t kThree = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_1;

int boxesSaying(const QString& part) {
  int n = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible() && box->text().contains(part)) ++n;
  return n;
}

void closeBoxes() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) box->close();
  testsupport::pumpUntil([] { return false; }, 50);
}

TEST(GlobalShortcuts, KeysAnotherProgramHoldsAreToldOnceAndAnotherKeyClearsTheNote) {
  // Another program holds every key with Ctrl+Alt+Shift: both defaults.
  wnd::Display other(nullptr);
  xcb_grab_key(other.conn(), 0, other.root(), kThree, XCB_GRAB_ANY, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
  xtest::sync(other);

  testsupport::ProgramWindows program(testsupport::ProgramWindows::Preferences::Loaded);
  app::OptionsDialog* options = optionsDialog();
  auto* note = testsupport::control<QLabel>(options, "ShortcutsNote");
  auto* pause = testsupport::control<QKeySequenceEdit>(options, "PauseKey");
  auto* startStop = testsupport::control<QKeySequenceEdit>(options, "StartStopKey");
  EXPECT_FALSE(note->isHidden());
  EXPECT_TRUE(note->text().contains(QStringLiteral("taken by another program"))) << note->text().toStdString();
  EXPECT_EQ(boxesSaying(QStringLiteral("taken")), 0) << "no box at start-up, with the dialog closed";

  // Chosen in the open dialog: one box, and one only for the same key.
  options->show();
  pause->setKeySequence(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F11")));
  testsupport::pumpUntil([] { return boxesSaying(QStringLiteral("Ctrl+Alt+Shift+F11")) == 1; }, 1000);
  EXPECT_EQ(boxesSaying(QStringLiteral("Ctrl+Alt+Shift+F11")), 1);
  closeBoxes();
  pause->clear();
  pause->setKeySequence(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F11")));
  testsupport::pumpUntil([] { return false; }, 100);
  EXPECT_EQ(boxesSaying(QStringLiteral("Ctrl+Alt+Shift+F11")), 0) << "said once";

  // Keys nobody holds: held, and the note goes.
  pause->setKeySequence(QKeySequence(QStringLiteral("Ctrl+Alt+F11")));
  EXPECT_FALSE(note->isHidden()) << "Start/Stop is still not held";
  startStop->setKeySequence(QKeySequence(QStringLiteral("Ctrl+Alt+F12")));
  EXPECT_TRUE(note->isHidden()) << note->text().toStdString();
  // The other command's key is refused: one key would run only one of them.
  pause->setKeySequence(QKeySequence(QStringLiteral("Ctrl+Alt+F12")));
  EXPECT_TRUE(note->text().contains(QStringLiteral("shortcut for Start/Stop already"))) << note->text().toStdString();
  pause->setKeySequence(QKeySequence(QStringLiteral("Ctrl+Alt+F11")));
  EXPECT_TRUE(note->isHidden());
  // A key that cannot be grabbed on its own is refused with its reason.
  startStop->setKeySequence(QKeySequence(Qt::CTRL | Qt::Key_Launch0));
  EXPECT_TRUE(note->text().contains(QStringLiteral("cannot be a global shortcut"))) << note->text().toStdString();
  closeBoxes();
  options->hide();
}

// The portal is asked for keys in its own format: its modifier words and
// the keysym's name.
TEST(GlobalShortcuts, KeysAreAskedOfThePortalInItsShortcutFormat) {
  using app::GlobalShortcuts;
  EXPECT_EQ(GlobalShortcuts::portalTrigger(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F9"))[0]),
            QStringLiteral("CTRL+ALT+SHIFT+F9"));
  EXPECT_EQ(GlobalShortcuts::portalTrigger(QKeySequence(QStringLiteral("Meta+A"))[0]), QStringLiteral("LOGO+a"));
  EXPECT_EQ(GlobalShortcuts::portalTrigger(QKeySequence(QStringLiteral("Ctrl+,"))[0]), QStringLiteral("CTRL+comma"));
  EXPECT_EQ(GlobalShortcuts::portalTrigger(QKeySequence(QStringLiteral("Alt+PgDown"))[0]),
            QStringLiteral("ALT+Page_Down"));
  EXPECT_EQ(GlobalShortcuts::portalTrigger(QKeyCombination(Qt::CTRL, Qt::Key_Launch0)), QString());
}

// In a Wayland session no X grab is made (it would see keys only while an
// X window has the focus): the dialog says so and names the commands for
// the desktop's own shortcut settings, without a box at start-up.
TEST(GlobalShortcuts, WaylandSessionNamesTheCommandsForTheDesktopsOwnShortcuts) {
  qputenv("WAYLAND_DISPLAY", "wayland-kestrel-test");
  testsupport::ProgramWindows program(testsupport::ProgramWindows::Preferences::Loaded);
  qunsetenv("WAYLAND_DISPLAY");
  auto* note = testsupport::control<QLabel>(optionsDialog(), "ShortcutsNote");
  // Said at once without a portal, or when one that offers the shortcuts
  // fails to give them (this session's bus may start either).
  testsupport::pumpUntil([&] { return !note->isHidden(); }, 10000);
  EXPECT_FALSE(note->isHidden());
  for (const char* command : {"kestrel --stop", "kestrel --pause", "kestrel --resume"})
    EXPECT_TRUE(note->text().contains(QLatin1String(command))) << note->text().toStdString();
  EXPECT_EQ(boxesSaying(QStringLiteral("kestrel --stop")), 0);
  // Keys chosen later are shown, and not said again.
  auto* pause = testsupport::control<QKeySequenceEdit>(optionsDialog(), "PauseKey");
  optionsDialog()->show();
  pause->setKeySequence(QKeySequence(QStringLiteral("Ctrl+Alt+F11")));
  testsupport::pumpUntil([] { return false; }, 100);
  EXPECT_EQ(boxesSaying(QStringLiteral("kestrel --stop")), 0);
  optionsDialog()->hide();
}

}  // namespace
