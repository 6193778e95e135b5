#include <QAction>
#include <QCheckBox>
#include <QLineEdit>

#include "app/frameratedialog.h"
#include "app/grabsourcesetup.h"
#include "app/mainwindow.h"
#include "app/optionsdialog.h"
#include "components/settingsstore.h"
#include "framework/image.h"
#include "framework/timer.h"
#include "framework/widgets.h"

// The preferences live in the controls that carry them; this file loads
// them once after start-up and saves them on the toolbar's "Exit".

namespace app {

using framework::checkOneOf;

namespace {

const QString kSection = QStringLiteral("setup");

}  // namespace

void MainWindow::loadvalues() {
  MyRegistry1->setSaveToINI(true);
  MyRegistry1->OpenStore();
  auto load = [this](const char* key, QAction* item, bool def) {
    item->setChecked(MyRegistry1->ReadBool(kSection, QLatin1String(key), def));
  };
  load("stretch", Strech1, false);
  peers_.options->CheckBox1->setChecked(Strech1->isChecked());
  load("nonstrech", NonStretch1, true);
  load("single", Single1, false);
  load("avi", Avi1, true);
  load("on1", On1, true);
  peers_.options->CheckBox2->setChecked(On1->isChecked());
  load("off1", Off1, false);
  load("ask1", Ask1, false);
  peers_.options->CheckBox3->setChecked(Ask1->isChecked());
  load("keep1", Keep1, false);
  load("on2", On2, true);
  load("off2", Off2, false);
  peers_.frameRate->Edit1->setText(MyRegistry1->ReadString(kSection, QStringLiteral("framerate"), QStringLiteral("2")));
  MyRegistry1->CloseStore();
  chooseGrabSource(*MyRegistry1);

  // "Stetch Image" and "Remote Control" take effect at the next start, as
  // "Final Preview" does: a stored choice that changed nothing would look
  // like a setting that was never saved. The stored "Stetch Image" decides
  // between the two stretch commands, "Remote Control" between On and Off.
  if (Strech1->isChecked())
    Strech1Click();
  else
    NonStretch1Click();
  if (On1->isChecked())
    On1Click();
  else
    Off1Click();
}

void MainWindow::closeit() {
  MyRegistry1->setSaveToINI(true);
  MyRegistry1->OpenStore();
  // A failed write raises "Unable to write to ..." here, before the window
  // closes; the store is closed on the way out all the same.
  try {
    auto save = [this](const char* key, bool value) { MyRegistry1->WriteBool(kSection, QLatin1String(key), value); };
    save("stretch", peers_.options->CheckBox1->isChecked());
    save("nonstrech", NonStretch1->isChecked());
    save("single", Single1->isChecked());
    save("avi", Avi1->isChecked());
    save("on1", peers_.options->CheckBox2->isChecked());
    save("off1", Off1->isChecked());
    save("ask1", peers_.options->CheckBox3->isChecked());
    save("keep1", Keep1->isChecked());
    save("on2", On2->isChecked());
    save("off2", Off2->isChecked());
    MyRegistry1->WriteString(kSection, QStringLiteral("framerate"), peers_.frameRate->Edit1->text());
  } catch (...) {
    MyRegistry1->CloseStore();
    throw;
  }
  MyRegistry1->CloseStore();
}

void MainWindow::Strech1Click() {
  checkOneOf(Strech1, NonStretch1);
  Image1->setStretch(true);
}

void MainWindow::NonStretch1Click() {
  checkOneOf(NonStretch1, Strech1);
  Image1->setStretch(false);
}

void MainWindow::Keep1Click() { checkOneOf(Keep1, Ask1); }

void MainWindow::Ask1Click() { checkOneOf(Ask1, Keep1); }

void MainWindow::On1Click() {
  checkOneOf(On1, Off1);
  remoteOff = false;
}

void MainWindow::Off1Click() {
  checkOneOf(Off1, On1);
  remoteOff = true;
}

void MainWindow::Moveable1Click() {
  remoteMoveable = !Moveable1->isChecked();
  Moveable1->setChecked(remoteMoveable);
}

namespace {

// Dialogs are modeless: shown, raised, and the program goes on.
void showModeless(QWidget* w) {
  w->show();
  w->raise();
  w->activateWindow();
}

}  // namespace

void MainWindow::FrameRate1Click() { showModeless(peers_.frameRate); }

void MainWindow::Setup1Click() { showModeless(peers_.options); }

}  // namespace app
