// The main window's recording commands: naming the file, choosing the
// target, Start, Pause, Stop and Cancel, and the grab. The recorder does
// the recording; these handlers put the toolbar, the remote control and
// the other windows into the state each command leaves them in.
#include <QAction>
#include <QLabel>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <exception>

#include "app/frameratedialog.h"
#include "app/grabsourcesetup.h"
#include "app/keeppreviewdialog.h"
#include "app/mainwindow.h"
#include "builder/builderpanel.h"
#include "components/trayicon.h"
#include "framework/application.h"
#include "framework/bounds.h"
#include "framework/dialogs.h"
#include "framework/image.h"
#include "framework/statusbar.h"
#include "framework/timer.h"
#include "platform/window/grabsource.h"
#include "target/captureframe.h"
#include "target/capturemodedialog.h"
#include "target/remotecontrol.h"

namespace app {

void MainWindow::connectRecorder() {
  using recording::Recorder;
  connect(&recorder_, &Recorder::statusChanged, this, &MainWindow::showRecordingStatus);
  connect(&recorder_, &Recorder::frameWriting, this, [this](int index) {
    Image1->update();
    // Said at every frame: number() costs a tenth of what arg() did.
    QString text = QStringLiteral("Writing Frame #") + QString::number(index);
    // Frames the writer could not keep up with are said, not hidden.
    if (const quint64 lost = recorder_.lostFrames()) text += QStringLiteral(" (%1 frames lost)").arg(lost);
    StatusBar1->setSimpleText(text);
    Panel1->Label2->setText(text);
  });
  connect(&recorder_, &Recorder::intervalChanged, this, [this](int ms) { getpic->setInterval(ms); });
  connect(&recorder_, &Recorder::endedByFailure, this, &MainWindow::recordingFailed);
  connect(&recorder_, &Recorder::health, this, &MainWindow::showHealth);
  connect(&recorder_, &Recorder::stateChanged, this, [this](recording::RecordState s) {
    // The tooltip goes back to what it was once the recording is over.
    if (s != recording::RecordState::Idle || !showingHealth_) return;
    showingHealth_ = false;
    TrayIcon1->setToolTip(trayTip_);
  });
}

void MainWindow::showHealth(const recording::Health& h) {
  if (!showingHealth_) trayTip_ = TrayIcon1->ToolTip();
  showingHealth_ = true;
  TrayIcon1->setToolTip(recording::healthText(h));
}

void MainWindow::tell(const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Warning, framework::Application::title(), text, QMessageBox::Ok);
  box->setObjectName(QStringLiteral("MessageBox"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void MainWindow::recordingFailed(const recording::RecordingEnd& end) {
  peers_.remote->Button1->setEnabled(false);
  peers_.remote->Button2->setEnabled(false);
  peers_.remote->Button3->setEnabled(false);
  setToolbar(true, false, false, false, false);
  if (!Keep1->isChecked()) getpic->setEnabled(false);
  show();
  tell(recording::describe(end));
}

// After a start that did not open a file: Start again, or Cancel.
void MainWindow::readyToStart() {
  setuptorecord();
  peers_.remote->Button1->setEnabled(true);
  peers_.remote->Button2->setEnabled(false);
  peers_.remote->Button3->setEnabled(false);
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
  if (!grabSourceReady()) return;
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
  // A start that opened no file leaves Start to be pressed again; one
  // refused because a recording holds its file leaves that recording be.
  if (!makeavi() && !recorder_.isFileOpen()) {
    readyToStart();
    return;
  }
  recorder_.writeTimer()->setEnabled(true);
}

bool MainWindow::makeavi() {
  if (recorder_.isFileOpen()) {
    framework::ShowMessage(QStringLiteral(" You must close the current AVI"));
    return false;
  }
  // Read once: the compressor dialog runs a message loop in which the text
  // could change, and the rate must be the one that was checked.
  const bool builderRate = !Panel1->isHidden();
  int rate = 0;
  QString problem;
  if (!recording::parseFrameRate(frameRateText(), rate, problem)) {
    framework::ShowMessage(problem);
    return false;
  }

  // Before the first grab there is no frame to take the format from, and
  // no file is created.
  std::vector<std::uint8_t> format;
  if (!recorder_.frameFormat(format)) {
    framework::MessageBox(QStringLiteral("ERROR: Unable to Initialize Image Data"),
                          QStringLiteral("Terminating Process"));
    return false;
  }
  vfw::COMPVARS compressor{};
  if (!recording::chooseCompressor(format, QStringLiteral("Choose Cinepake Codec for default compression"),
                                   compressor, rate))
    return false;
  // The builder's rate names the file's rate only; the timers keep theirs.
  const recording::StartOutcome outcome = recorder_.start(rate, compressor, !builderRate);
  if (outcome == recording::StartOutcome::Failed) {
    const QString file = recorder_.outputFile();
    const QString why = recording::whyCannotCreate(file);
    tell(QStringLiteral("Recording could not start: %1 cannot be created%2.")
             .arg(QFileInfo(file).fileName(), why.isEmpty() ? QString() : QStringLiteral(": ") + why));
  }
  return outcome == recording::StartOutcome::Started;
}

void MainWindow::Button5Click() {
  // Pause and UnPause act on a recording; without one there is nothing to
  // pause (the button is off then, but the remote and menus call here too).
  if (!recorder_.isFileOpen()) return;
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
  // Before the first frame too: the file is closed and nothing more is written.
  if (!recorder_.isFileOpen()) return;
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

// The copy is asked for here and taken when it has arrived (finishGrab):
// at 4K the X server, busy drawing, took up to 130 ms to answer, and the
// user-interface thread answers clicks meanwhile. A tick while a copy is
// still on its way is skipped, as it would wait behind it anyway.
void MainWindow::getpicTimer() {
  // An error box runs its own message loop, in which this timer keeps
  // ticking; a failing grab must not stack a new box every tick.
  if (reportingGrabError_ || grabbing_) return;
  recorder_.grabStarted();
  try {
    peers_.captureFrame->startGrabUnder();
  } catch (const std::exception& e) {
    grabFailed(e);
    return;
  }
  grabbing_ = true;
  if (wnd::ScreenCopyArrived())
    finishGrab();
  else
    grabPoll_->start();
}

void MainWindow::finishGrab() {
  grabPoll_->stop();
  grabbing_ = false;
  if (!wnd::ScreenCopyPending()) {
    // The source was replaced meanwhile, and its copy with it.
    recorder_.grabFailed(QString());
    return;
  }
  gdi::Bitmap bmp;
  try {
    bmp = wnd::FinishScreenCopy();
  } catch (const std::exception& e) {
    grabFailed(e);
    return;
  }
  recorder_.frameGrabbed(bmp);
  // A preview stopped while the copy was on its way shows nothing more
  // and keeps the remote control where the stop left it.
  if (!getpic->Enabled()) return;
  Image1->setPicture(bmp);
  placeRemoteControl();
}

void MainWindow::grabFailed(const std::exception& e) {
  // While recording, the recorder decides: a grab that keeps failing ends
  // the recording with one message instead of a box per tick.
  if (recorder_.isFileOpen()) {
    recorder_.grabFailed(QString::fromUtf8(e.what()));
    return;
  }
  // Shown like any escaped error; the gate stays busy, so no frame is
  // written until a grab succeeds again.
  reportingGrabError_ = true;
  framework::ShowException(e);
  reportingGrabError_ = false;
}

// Runs after each grab, unless the remote control is off.
void MainWindow::placeRemoteControl() {
  if (remoteOff) return;
  peers_.remote->showBelow(framework::outerBounds(peers_.captureFrame), !remoteMoveable);
}

}  // namespace app
