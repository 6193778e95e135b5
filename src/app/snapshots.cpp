// Snapshots ("Eazy Capture"): the live preview saved as a bitmap file from
// the second notification-area icon, and the capture-type check marks.
#include <QAction>

#include "app/mainwindow.h"
#include "components/trayicon.h"
#include "framework/dialogs.h"
#include "framework/image.h"
#include "framework/widgets.h"
#include "platform/gdi/bmpfile.h"

namespace app {

using framework::checkOneOf;

void MainWindow::chooseSnapshots(bool on) {
  if (on) {
    snapshotTrayIcon_->setActive(true);
    checkOneOf(snapshotsOn_, snapshotsOff_);
  } else {
    checkOneOf(snapshotsOff_, snapshotsOn_);
    snapshotTrayIcon_->setActive(false);
  }
}

void MainWindow::saveSnapshot() {
  if (!session_.previewing()) {
    framework::ShowMessage(QStringLiteral("Start New Avi First."));
    return;
  }
  if (!snapshotFileDialog_.Execute(this)) return;
  // Grabs go on while the dialog is open, so this is the picture current
  // when the user confirmed. Nothing runs between here and the end of the
  // write, so the file holds one whole grab.
  const gdi::Bitmap picture = preview_->picture();
  if (picture.empty()) return;
  gdi::saveBmp(picture, snapshotFileDialog_.FileName);  // EFCreateError reaches the top-level handler
}

void MainWindow::chooseCaptureType(CaptureType t) {
  captureType_ = t;
  if (t == CaptureType::SingleImage)
    checkOneOf(singleImage_, aviCapture_);
  else
    checkOneOf(aviCapture_, singleImage_);
}

}  // namespace app
