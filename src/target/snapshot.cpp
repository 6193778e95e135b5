#include "app/main.h"

#include "framework/dialogs.h"

// Snapshots: filled in with the snapshot feature.
void TForm1::On2Click() {}
void TForm1::Off2Click() {}
void TForm1::Help7Click() {
  forms::ShowMessage(QStringLiteral(
      "Easy Capture allows the you to save a capture of what you are previewing.  The file is saved in bitmap "
      "format."));
}
void TForm1::TrayIcon2Click() {}
void TForm1::TrayIcon2DblClick() {}
void TForm1::Single1Click() {}
void TForm1::Avi1Click() {}
