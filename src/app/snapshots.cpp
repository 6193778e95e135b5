// Snapshots ("Eazy Capture"): the live preview saved as a bitmap file from
// the second notification-area icon, and the capture-type check marks.
#include <QAction>

#include "app/mainwindow.h"
#include "components/trayicon.h"
#include "framework/dialogs.h"
#include "framework/image.h"
#include "framework/timer.h"
#include "framework/widgets.h"
#include "platform/gdi/bmpfile.h"

namespace app {

using framework::checkOneOf;

void MainWindow::On2Click() {
  TrayIcon2->setActive(true);
  checkOneOf(On2, Off2);
}

void MainWindow::Off2Click() {
  checkOneOf(Off2, On2);
  TrayIcon2->setActive(false);
}

void MainWindow::Help7Click() {
  framework::ShowMessage(QStringLiteral(
      "Easy Capture allows the you to save a capture of what you are previewing.  The file is saved in bitmap "
      "format."));
}

void MainWindow::TrayIcon2DblClick() {
  if (!getpic->Enabled()) {
    framework::ShowMessage(QStringLiteral("Start New Avi First."));
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

void MainWindow::Single1Click() {
  captureType = CaptureType::SingleImage;
  checkOneOf(Single1, Avi1);
}

void MainWindow::Avi1Click() {
  captureType = CaptureType::Avi;
  checkOneOf(Avi1, Single1);
}

}  // namespace app
