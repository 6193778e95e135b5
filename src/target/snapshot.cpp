// Snapshots ("Eazy Capture"): the live preview saved as a bitmap file from
// the second notification-area icon, and the capture-type check marks.
#include <QAction>

#include "app/main.h"
#include "components/trayicon.h"
#include "framework/dialogs.h"
#include "framework/image.h"
#include "framework/timer.h"
#include "platform/gdi/bmpfile.h"

void TForm1::On2Click() {
  TrayIcon2->setActive(true);
  Off2->setChecked(false);
  On2->setChecked(true);
}

void TForm1::Off2Click() {
  Off2->setChecked(true);
  On2->setChecked(false);
  TrayIcon2->setActive(false);
}

void TForm1::Help7Click() {
  forms::ShowMessage(QStringLiteral(
      "Easy Capture allows the you to save a capture of what you are previewing.  The file is saved in bitmap "
      "format."));
}

// A single click does nothing: a double-click also delivers two clicks.
void TForm1::TrayIcon2Click() {}

void TForm1::TrayIcon2DblClick() {
  if (!getpic->Enabled()) {
    forms::ShowMessage(QStringLiteral("Start New Avi First."));
    return;
  }
  if (!SaveDialog2.Execute(this)) return;
  // Grabs go on while the dialog is open, so this is the picture current
  // when the user confirmed. Nothing runs between here and the end of the
  // write, so the file holds one whole grab.
  const gdi::Bitmap picture = Image1->picture();
  if (picture.empty()) return;
  gdi::saveBmp(picture, SaveDialog2.FileName);  // EFCreateError reaches the top-level handler
}

void TForm1::Single1Click() {
  captureType = 1;
  Single1->setChecked(true);
  Avi1->setChecked(false);
}

void TForm1::Avi1Click() {
  captureType = 0;
  Avi1->setChecked(true);
  Single1->setChecked(false);
}
