#include "app/main.h"

#include <QLabel>

#include "framework/application.h"
#include "framework/image.h"
#include "framework/statusbar.h"

// Writes the newest grab as the next key frame. The two pumps let clicks,
// remote commands and grabs run during a write; recordState 11 and the gate
// keep a second write from starting inside them, and a Stop or Cancel that
// ran inside a pump has closed the file, which is then left alone.
void TForm1::addfile() {
  if (frameGate == 2 || !opened) return;
  frameGate = 2;
  recordState = 11;
  ++frameIndex;
  Image1->update();
  frameBitmap = Image1->picture();
  const QString text = QStringLiteral("Writing Frame #%1").arg(frameIndex);
  StatusBar1->setSimpleText(text);
  Label2->setText(text);
  forms::ProcessMessages();
  if (!opened) return;  // closed by a Stop or Cancel inside the pump
  // A grab inside the pump has replaced the preview and opened the gate; the
  // newest complete grab is the one written, and the gate stays shut.
  frameGate = 2;
  frameBitmap = Image1->picture();
  aviResult = writevideoframe(*this, frameBitmap, frameIndex);
  if (aviResult == 0) {
    forms::ProcessMessages();
    frameGate = 1;
    // A Pause, Stop or Cancel inside the pump has set its own state.
    if (recordState == 11) recordState = 9;
    return;
  }
  releasevideostream(*this);
  StatusBar1->setSimpleText(QStringLiteral("Use Image Conversion Tool"));
  recordState = 0;
}
