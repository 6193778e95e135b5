#include "app/main.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>

#include "app/forms.h"
#include "app/framerate.h"
#include "app/unit9.h"
#include "components/myregistry.h"
#include "framework/image.h"
#include "framework/timer.h"

// The preferences live in the controls that carry them; this file loads
// them once after start-up and saves them on the toolbar's "Exit".

namespace {

const QString kSection = QStringLiteral("setup");

}  // namespace

void TForm1::Timer2Timer() {
  loadvalues();
  Timer2->setEnabled(false);
}

void TForm1::loadvalues() {
  MyRegistry1->setSaveToINI(true);
  MyRegistry1->OpenStore();
  auto load = [this](const char* key, QAction* item, bool def) {
    item->setChecked(MyRegistry1->ReadBool(kSection, QLatin1String(key), def));
  };
  load("stretch", Strech1, false);
  Form9->CheckBox1->setChecked(Strech1->isChecked());
  load("nonstrech", NonStretch1, true);
  load("single", Single1, false);
  load("avi", Avi1, true);
  load("on1", On1, true);
  Form9->CheckBox2->setChecked(On1->isChecked());
  load("off1", Off1, false);
  load("ask1", Ask1, false);
  Form9->CheckBox3->setChecked(Ask1->isChecked());
  load("keep1", Keep1, false);
  load("on2", On2, true);
  load("off2", Off2, false);
  Form6->Edit1->setText(MyRegistry1->ReadString(kSection, QStringLiteral("framerate"), QStringLiteral("2")));
  MyRegistry1->CloseStore();

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

void TForm1::closeit() {
  MyRegistry1->setSaveToINI(true);
  MyRegistry1->OpenStore();
  // A failed write raises "Unable to write to ..." here, before the window
  // closes; the store is closed on the way out all the same.
  try {
    auto save = [this](const char* key, bool value) { MyRegistry1->WriteBool(kSection, QLatin1String(key), value); };
    save("stretch", Form9->CheckBox1->isChecked());
    save("nonstrech", NonStretch1->isChecked());
    save("single", Single1->isChecked());
    save("avi", Avi1->isChecked());
    save("on1", Form9->CheckBox2->isChecked());
    save("off1", Off1->isChecked());
    save("ask1", Form9->CheckBox3->isChecked());
    save("keep1", Keep1->isChecked());
    save("on2", On2->isChecked());
    save("off2", Off2->isChecked());
    MyRegistry1->WriteString(kSection, QStringLiteral("framerate"), Form6->Edit1->text());
  } catch (...) {
    MyRegistry1->CloseStore();
    throw;
  }
  MyRegistry1->CloseStore();
}

void TForm1::Strech1Click() {
  Strech1->setChecked(true);
  Image1->setStretch(true);
  NonStretch1->setChecked(false);
}

void TForm1::NonStretch1Click() {
  Strech1->setChecked(false);
  Image1->setStretch(false);
  NonStretch1->setChecked(true);
}

void TForm1::Keep1Click() {
  Keep1->setChecked(true);
  Ask1->setChecked(false);
}

void TForm1::Ask1Click() {
  Keep1->setChecked(false);
  Ask1->setChecked(true);
}

namespace {

// Dialogs are modeless: shown, raised, and the program goes on.
void showModeless(QWidget* w) {
  w->show();
  w->raise();
  w->activateWindow();
}

}  // namespace

void TForm1::FrameRate1Click() { showModeless(Form6); }

void TForm1::Setup1Click() { showModeless(Form9); }
