// The main window's recording commands: naming the file, choosing the
// target, Start, Pause, Stop and Cancel, and the grab. The recorder does
// the recording; these handlers put the toolbar, the remote control and
// the other windows into the state each command leaves them in.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <exception>

#include "app/frameratedialog.h"
#include "app/keeppreviewdialog.h"
#include "app/mainwindow.h"
#include "builder/builderpanel.h"
#include "framework/application.h"
#include "framework/bounds.h"
#include "framework/dialogs.h"
#include "framework/image.h"
#include "framework/statusbar.h"
#include "framework/timer.h"
#include "target/captureframe.h"
#include "target/capturemodedialog.h"
#include "target/remotecontrol.h"

namespace app {

void MainWindow::connectRecorder() {
  using recording::Recorder;
  connect(&recorder_, &Recorder::statusChanged, this, &MainWindow::showRecordingStatus);
  connect(&recorder_, &Recorder::frameWriting, this, [this](int index) {
    Image1->update();
    const QString text = QStringLiteral("Writing Frame #%1").arg(index);
    StatusBar1->setSimpleText(text);
    Panel1->Label2->setText(text);
  });
  connect(&recorder_, &Recorder::intervalChanged, this, [this](int ms) { getpic->setInterval(ms); });
}

void MainWindow::showRecordingStatus(const QString& text) { StatusBar1->setSimpleText(text); }

void MainWindow::setToolbar(bool record, bool start, bool pause, bool stop, bool cancel) {
  Button11->setEnabled(record);
  Button4->setEnabled(start);
  Button5->setEnabled(pause);
  Button6->setEnabled(stop);
  Button7->setEnabled(cancel);
}

// The text that holds the frame rate: the builder panel's while it is
// shown, otherwise the frame-rate dialog's. The panel's own flag counts,
// not whether the main window around it is on the screen: the main window
// is hidden for most of a recording.
QString MainWindow::frameRateText() const {
  if (!Panel1->isHidden()) return Panel1->Edit1->text();
  return peers_.frameRate->Edit1->text();
}

void MainWindow::NameFile1Click() {
  if (recorder_.isFileOpen()) {
    framework::ShowMessage(QStringLiteral("File already Open"));
    return;
  }
  if (!SaveDialog1.Execute(this)) return;
  recorder_.setOutputFile(SaveDialog1.FileName);
  peers_.captureMode->show();
  Button11->setEnabled(false);
  peers_.remote->Button3->setEnabled(false);
  peers_.remote->Button2->setEnabled(false);
  peers_.remote->Button1->setEnabled(true);
  hide();
}

void MainWindow::setuptorecord() { setToolbar(Button11->isEnabled(), true, false, false, true); }

void MainWindow::targetChosen() {
  setuptorecord();
  peers_.captureFrame->followTimer()->setEnabled(false);
  peers_.captureFrame->hide();
  getpic->setEnabled(true);
  if (Off1->isChecked()) show();
}

void MainWindow::Button4Click() {
  // A rate the timers cannot keep is refused before anything is created, so
  // the user can correct it and press Start again; nothing else changes.
  if (!recorder_.isFileOpen()) {
    int rate = 0;
    QString problem;
    if (!recording::parseFrameRate(frameRateText(), rate, problem)) {
      framework::ShowMessage(problem);
      return;
    }
  }
  setToolbar(false, false, true, true, true);
  makeavi();
  recorder_.writeTimer()->setEnabled(true);
}

void MainWindow::makeavi() {
  if (recorder_.isFileOpen()) {
    framework::ShowMessage(QStringLiteral(" You must close the current AVI"));
    return;
  }
  // Read once: the compressor dialog runs a message loop in which the text
  // could change, and the rate must be the one that was checked.
  const bool builderRate = !Panel1->isHidden();
  int rate = 0;
  QString problem;
  if (!recording::parseFrameRate(frameRateText(), rate, problem)) {
    framework::ShowMessage(problem);
    return;
  }

  // Before the first grab there is no frame to take the format from, and
  // no file is created.
  std::vector<std::uint8_t> format;
  if (!recorder_.frameFormat(format)) {
    framework::MessageBox(QStringLiteral("ERROR: Unable to Initialize Image Data"),
                          QStringLiteral("Terminating Process"));
    return;
  }
  vfw::COMPVARS compressor{};
  if (!recording::chooseCompressor(format, QStringLiteral("Choose Cinepake Codec for default compression"),
                                   compressor))
    return;
  // The builder's rate names the file's rate only; the timers keep theirs.
  recorder_.start(rate, compressor, !builderRate);
}

void MainWindow::Button5Click() {
  const QString caption = Button5->text();
  if (caption == QLatin1String("Pause")) {
    peers_.remote->Button2->setText(QStringLiteral("UnPause"));
    Button5->setText(QStringLiteral("UnPause"));
    recorder_.pause();
  } else if (caption == QLatin1String("UnPause")) {
    Button5->setText(QStringLiteral("Pause"));
    peers_.remote->Button2->setText(QStringLiteral("Pause"));
    recorder_.resume();
  }
}

void MainWindow::Button6Click() {
  getpic->setInterval(700);
  if (recorder_.frameIndex() == -1) return;
  peers_.remote->Button1->setEnabled(false);
  peers_.remote->Button2->setEnabled(false);
  peers_.remote->Button3->setEnabled(false);
  setToolbar(true, false, false, false, false);
  recorder_.stop();
  if (Ask1->isChecked()) peers_.keepPreview->show();
  if (!Keep1->isChecked()) getpic->setEnabled(false);
}

void MainWindow::Button7Click() {
  recorder_.cancel();
  getpic->setEnabled(false);
  setToolbar(true, false, false, false, false);
  if (Ask1->isChecked()) peers_.keepPreview->show();
}

void MainWindow::closeRecordingOnExit() {
  getpic->setEnabled(false);
  recorder_.closeOnExit();
}

void MainWindow::getpicTimer() {
  // An error box runs its own message loop, in which this timer keeps
  // ticking; a failing grab must not stack a new box every tick.
  static bool reporting = false;
  if (reporting) return;
  recorder_.grabStarted();
  gdi::Bitmap bmp;
  try {
    bmp = peers_.captureFrame->grabUnder();
  } catch (const std::exception& e) {
    // Shown like any escaped error; the gate stays busy, so no frame is
    // written until a grab succeeds again.
    reporting = true;
    framework::ShowException(e);
    reporting = false;
    return;
  }
  Image1->setPicture(bmp);
  recorder_.frameGrabbed(bmp);
  placeRemoteControl();
}

// Runs after each grab, unless the remote control is off.
void MainWindow::placeRemoteControl() {
  if (remoteOff) return;
  peers_.remote->showBelow(framework::outerBounds(peers_.captureFrame), !remoteMoveable);
}

}  // namespace app
