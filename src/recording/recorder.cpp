// The recorder: one real-time recording from naming the file to closing it.
//
// State codes of recordState: 0 idle, 9 recording, 5 paused, 11 writing a
// frame, 10 stopping. frameIndex is the index of the last frame written and
// -1 while no frame has been written; the writer's `opened` flag says
// whether the AVI objects exist. A file counts as open when either says so:
// a started recording has no frame yet, and a failed write has released
// the objects but still owns the file's frame count until Stop or Cancel.
#include "recording/recorder.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>

#include "app/forms.h"
#include "app/framerate.h"
#include "app/main.h"
#include "app/preview.h"
#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/errors.h"
#include "framework/image.h"
#include "framework/statusbar.h"
#include "framework/timer.h"
#include "target/unit8.h"
#include "target/winorarea.h"

namespace recorder {

bool parseFrameRate(const QString& text, int& rate, QString& problem) {
  bool ok = false;
  const int value = forms::StrToIntDef(text, 0, &ok);
  if (!ok) {
    problem = QStringLiteral("The frame rate \"%1\" is not a whole number. Enter the number of frames per "
                             "second, from %2 to %3, and press Start again.")
                  .arg(text.trimmed())
                  .arg(kMinFrameRate)
                  .arg(kMaxFrameRate);
    return false;
  }
  if (value < kMinFrameRate || value > kMaxFrameRate) {
    problem = QStringLiteral("A frame rate of %1 frames per second cannot be recorded. Enter a number from %2 "
                             "to %3 and press Start again.")
                  .arg(value)
                  .arg(kMinFrameRate)
                  .arg(kMaxFrameRate);
    return false;
  }
  rate = value;
  return true;
}

bool fileOpen(const TForm1& form) { return form.frameIndex != -1 || form.opened; }

}  // namespace recorder

namespace {

// Whether the builder panel is shown. Its own flag counts, not whether the
// main window around it is on the screen: the main window is hidden for
// most of a recording.
bool builderPanelShown(const TForm1& form) { return !form.Panel1->isHidden(); }

// The text that holds the frame rate: the builder panel's while it is
// shown, otherwise the frame-rate dialog's.
QString frameRateText(const TForm1& form) {
  if (builderPanelShown(form)) return form.Edit1->text();
  return Form6->Edit1->text();
}

void setToolbar(TForm1& f, bool record, bool start, bool pause, bool stop, bool cancel) {
  f.Button11->setEnabled(record);
  f.Button4->setEnabled(start);
  f.Button5->setEnabled(pause);
  f.Button6->setEnabled(stop);
  f.Button7->setEnabled(cancel);
}

}  // namespace

void TForm1::NameFile1Click() {
  if (recorder::fileOpen(*this)) {
    forms::ShowMessage(QStringLiteral("File already Open"));
    return;
  }
  if (!SaveDialog1.Execute(this)) return;
  outputFileName = SaveDialog1.FileName;
  Form2->show();
  Button11->setEnabled(false);
  Form8->Button3->setEnabled(false);
  Form8->Button2->setEnabled(false);
  Form8->Button1->setEnabled(true);
  hide();
}

void TForm1::Button11Click() { NameFile1Click(); }

void TForm1::setuptorecord() {
  Button4->setEnabled(true);
  Button5->setEnabled(false);
  Button6->setEnabled(false);
  Button7->setEnabled(true);
}

void TForm1::Button4Click() {
  // A rate the timers cannot keep is refused before anything is created, so
  // the user can correct it and press Start again; nothing else changes.
  if (!recorder::fileOpen(*this)) {
    int rate = 0;
    QString problem;
    if (!recorder::parseFrameRate(frameRateText(*this), rate, problem)) {
      forms::ShowMessage(problem);
      return;
    }
  }
  Button11->setEnabled(false);
  Button4->setEnabled(false);
  Button5->setEnabled(true);
  Button6->setEnabled(true);
  Button7->setEnabled(true);
  makeavi();
  Timer1->setEnabled(true);
}

void TForm1::makeavi() {
  if (recorder::fileOpen(*this)) {
    forms::ShowMessage(QStringLiteral(" You must close the current AVI"));
    return;
  }
  // Read once: the compressor dialog runs a message loop in which the text
  // could change, and the rate must be the one that was checked.
  const bool builderRate = builderPanelShown(*this);
  int rate = 0;
  QString problem;
  if (!recorder::parseFrameRate(frameRateText(*this), rate, problem)) {
    forms::ShowMessage(problem);
    return;
  }

  // Before the first grab the picture is empty; the writer then reports
  // that the image data cannot be prepared and creates no file.
  frameBitmap = Image1->picture();

  const OpenOutcome outcome = openvideostream(
      *this, frameBitmap, QStringLiteral("Choose Cinepake Codec for default compression"), outputFileName,
      [this, rate, builderRate](vfw::AVISTREAMINFO& info) {
        info.dwRate = static_cast<vfw::DWORD>(rate);
        if (!builderRate) {
          Timer1->setInterval(1000 / rate);
          getpic->setInterval(1000 / rate);
        }
      });

  switch (outcome) {
    case OpenOutcome::Opened:
      frameGate = 1;
      recordState = 9;
      return;
    case OpenOutcome::FrameDataFailed:
    case OpenOutcome::DialogCancelled:
      // Whatever the open had begun (the library's use, the frame buffers)
      // is given back now rather than kept until a later open.
      if (opened) releasevideostream(*this);
      return;
    case OpenOutcome::LibraryFailure:
      if (aviResult != 0) StatusBar1->setSimpleText(QStringLiteral("Use Image Conversion Tool"));
      recordState = 0;
      return;
  }
}

void TForm1::Button5Click() {
  const QString caption = Button5->text();
  if (caption == QLatin1String("Pause")) {
    StatusBar1->setSimpleText(QStringLiteral("AVI is Paused"));
    Form8->Button2->setText(QStringLiteral("UnPause"));
    Button5->setText(QStringLiteral("UnPause"));
    recordState = 5;
    forms::ProcessMessages();
    Timer1->setEnabled(false);
  } else if (caption == QLatin1String("UnPause")) {
    Button5->setText(QStringLiteral("Pause"));
    Form8->Button2->setText(QStringLiteral("Pause"));
    recordState = 9;
    Timer1->setEnabled(true);
    forms::ProcessMessages();
  }
}

void TForm1::Button6Click() {
  getpic->setInterval(700);
  if (frameIndex == -1) return;
  recordState = 10;
  Form8->Button1->setEnabled(false);
  Form8->Button2->setEnabled(false);
  Form8->Button3->setEnabled(false);
  setToolbar(*this, true, false, false, false, false);
  Timer1->setEnabled(false);
  closeavi();
  frameIndex = -1;
  if (Ask1->isChecked()) Form5->show();
  if (!Keep1->isChecked()) getpic->setEnabled(false);
}

void TForm1::CloseFile1Click() { Button6Click(); }

void TForm1::Button7Click() {
  // A recording started but without a frame yet also holds a file; leaving
  // it open would lose it and let the next Start open a second one over it.
  if (recorder::fileOpen(*this)) {
    Timer1->setEnabled(false);
    forms::ProcessMessages();
    closeavi();
  }
  getpic->setEnabled(false);
  Timer1->setEnabled(false);
  recordState = 0;
  setToolbar(*this, true, false, false, false, false);
  frameIndex = -1;
  if (Ask1->isChecked()) Form5->show();
}

void TForm1::closeavi() {
  forms::ProcessMessages();
  StatusBar1->setSimpleText(QStringLiteral("AVI Completed"));
  // After a failed write the objects were released already; they must not
  // be released twice.
  if (opened) releasevideostream(*this);
  if (aviResult != 0) StatusBar1->setSimpleText(QStringLiteral("Use Image Conversion Tool"));
  recordState = 0;
}

void TForm1::Timer1Timer() {
  // `opened` keeps a failed start or a failed write from writing: Pause and
  // UnPause there set the recording state again without a stream behind it.
  if (recordState == 9 && frameGate == 1 && opened) addfile();
}

void TForm1::closeRecordingOnExit() {
  Timer1->setEnabled(false);
  getpic->setEnabled(false);
  if (!recorder::fileOpen(*this)) return;
  recordState = 10;
  closeavi();
  frameIndex = -1;
}
