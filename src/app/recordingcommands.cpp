// The main window's recording commands: naming the file, choosing the
// target, Start, Pause, Stop and Cancel. The session records; these pass
// the commands on, and showState puts the toolbar, the remote control and
// the tray icon into the session's state.
#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <stdexcept>

#include "app/frameratedialog.h"
#include "app/grabsourcesetup.h"
#include "app/keeppreviewdialog.h"
#include "app/mainwindow.h"
#include "app/optionsdialog.h"
#include "builder/builderpanel.h"
#include "components/trayicon.h"
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

using recording::RecordState;

void MainWindow::connectSession() {
  using recording::Session;
  connect(&session_, &Session::stateChanged, this, &MainWindow::showState);
  connect(&session_, &Session::statusChanged, statusLine_, &framework::StatusBar::setSimpleText);
  connect(&session_, &Session::frameWritten, this, &MainWindow::showFrameWritten);
  connect(&session_, &Session::ended, this, &MainWindow::recordingEnded);
  connect(&session_, &Session::health, this, &MainWindow::showHealth);
  connect(&session_, &Session::grabError, this, &MainWindow::showGrabError);
  connect(&session_, &Session::grabbed, this, [this](const gdi::Bitmap& frame) {
    preview_->setPicture(frame);
    placeRemoteControl();
  });
}

void MainWindow::showState(RecordState s) {
  const bool recording = s == RecordState::Recording || s == RecordState::Paused;
  const QString pauseCaption = s == RecordState::Paused ? QStringLiteral("UnPause") : QStringLiteral("Pause");
  recordButton_->setEnabled(s == RecordState::Idle);
  startButton_->setEnabled(s == RecordState::Ready);
  pauseButton_->setEnabled(recording);
  pauseButton_->setText(pauseCaption);
  stopButton_->setEnabled(recording);
  cancelButton_->setEnabled(recording || s == RecordState::Ready);
  if (peers_.remote) peers_.remote->showState(s);
  // The tooltip goes back to what it was once the recording is over.
  if (!recording && s != RecordState::Stopping && showingHealth_) {
    showingHealth_ = false;
    trayIcon_->setToolTip(trayTip_);
  }
}

void MainWindow::showFrameWritten(int index) {
  preview_->update();
  // Said at every frame: number() costs a tenth of what arg() did.
  QString text = QStringLiteral("Writing Frame #") + QString::number(index);
  // Frames that could not be had or written in time are said, not hidden.
  text += recording::lostText(session_.lostFrames());
  statusLine_->setSimpleText(text);
  builderPanel_->showRecordingStatus(text);
}

void MainWindow::showHealth(const recording::Health& h) {
  if (!showingHealth_) trayTip_ = trayIcon_->ToolTip();
  showingHealth_ = true;
  trayIcon_->setToolTip(recording::healthText(h));
}

// Sound is asked for but no sound server answers: the user records without
// sound, or not at all. False for not at all.
bool MainWindow::soundOrNone(recording::RecordingSettings& settings) {
  std::string why;
  if (recording::soundServerAvailable(&why)) return true;
  QMessageBox box(QMessageBox::Warning, framework::Application::title(),
                  QStringLiteral("No sound server answers (%1): the sound cannot be recorded.")
                      .arg(QString::fromStdString(why)),
                  QMessageBox::NoButton);
  box.setObjectName(QStringLiteral("NoSoundBox"));
  QPushButton* without = box.addButton(QStringLiteral("Record Without Sound"), QMessageBox::AcceptRole);
  without->setObjectName(QStringLiteral("RecordWithoutSound"));
  box.addButton(QStringLiteral("Don't Record"), QMessageBox::RejectRole)->setObjectName(QStringLiteral("DontRecord"));
  box.setDefaultButton(without);
  box.exec();
  if (box.clickedButton() != without) return false;
  settings.desktopSound = settings.microphone = false;
  return true;
}

void MainWindow::tell(const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Warning, framework::Application::title(), text, QMessageBox::Ok);
  box->setObjectName(QStringLiteral("MessageBox"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void MainWindow::recordingEnded(const recording::RecordingEnd& end) {
  if (!end.failed()) return;
  // The windows as after Stop, and one box that says what happened.
  if (!keepPreview_->isChecked()) session_.stopPreview();
  show();
  tell(recording::describe(end));
}

// The text that holds the frame rate: the builder panel's while it is
// shown, otherwise the frame-rate dialog's. The panel's own flag counts,
// not whether the main window around it is on the screen: the main window
// is hidden for most of a recording.
QString MainWindow::frameRateText() const {
  if (!builderPanel_->isHidden()) return builderPanel_->rateText();
  return peers_.frameRate->rateText();
}

void MainWindow::recordNewFile() {
  if (session_.isFileOpen()) {
    framework::ShowMessage(QStringLiteral("File already Open"));
    return;
  }
  if (!recordingFileDialog_.Execute(this)) return;
  session_.nameFile(recordingFileDialog_.FileName);
  peers_.captureMode->show();
  hide();
}

void MainWindow::targetChosen() {
  if (!grabSourceReady(session_.pointerShown())) return;
  peers_.captureFrame->followTimer()->setEnabled(false);
  // Read while the frame is still seen where the user left it.
  const wnd::RECT target = recordedRect(peers_.captureFrame->recordedBounds());
  peers_.captureFrame->hideFromScreen();
  session_.fixTarget(target);
  if (remoteOffItem_->isChecked()) show();
}

void MainWindow::startRecording() {
  // A rate that cannot be recorded is refused before anything is created,
  // so the user can correct it and press Start again; nothing else changes.
  if (!session_.isFileOpen()) {
    int rate = 0;
    QString problem;
    if (!recording::parseFrameRate(frameRateText(), rate, problem)) {
      framework::ShowMessage(problem);
      return;
    }
  }
  openRecording();
}

bool MainWindow::openRecording() {
  if (session_.isFileOpen()) {
    framework::ShowMessage(QStringLiteral(" You must close the current AVI"));
    return false;
  }
  // Read once: the compressor dialog runs a message loop in which the text
  // could change, and the rate must be the one that was checked.
  recording::RecordingSettings settings;
  settings.file = session_.outputFile();
  settings.pointer = peers_.options->pointerBox()->isChecked();
  QString problem;
  if (!recording::parseFrameRate(frameRateText(), settings.rate, problem)) {
    framework::ShowMessage(problem);
    return false;
  }

  // Before the first grab there is no frame to take the format from, and
  // no file is created.
  std::vector<std::uint8_t> format;
  if (!session_.frameFormat(format)) {
    framework::MessageBox(QStringLiteral("ERROR: Unable to Initialize Image Data"),
                          QStringLiteral("Terminating Process"));
    return false;
  }
  if (!recording::chooseCompressor(format, QStringLiteral("Choose Cinepake Codec for default compression"),
                                   settings.compressor, settings.rate))
    return false;
  settings.desktopSound = peers_.options->desktopSoundBox()->isChecked();
  settings.microphone = peers_.options->microphoneBox()->isChecked();
  settings.soundCompressed = peers_.options->soundCompressedBox()->isChecked();
  if ((settings.desktopSound || settings.microphone) && !soundOrNone(settings)) return false;
  const recording::StartOutcome outcome = session_.start(settings);
  if (outcome == recording::StartOutcome::Failed) {
    const QString file = settings.file;
    const QString why = recording::whyCannotCreate(file);
    tell(QStringLiteral("Recording could not start: %1 cannot be created%2.")
             .arg(QFileInfo(file).fileName(), why.isEmpty() ? QString() : QStringLiteral(": ") + why));
  }
  return outcome == recording::StartOutcome::Started;
}

void MainWindow::togglePause() {
  if (session_.state() == RecordState::Recording)
    session_.pause();
  else if (session_.state() == RecordState::Paused)
    session_.resume();
}

void MainWindow::stopRecording() {
  const bool open = session_.isFileOpen();
  // Before the first frame too: the file is closed and nothing more is written.
  session_.stop();
  if (!open) return;
  if (askPreview_->isChecked()) peers_.keepPreview->show();
  if (!keepPreview_->isChecked()) session_.stopPreview();
}

void MainWindow::cancelRecording() {
  session_.cancel();
  if (askPreview_->isChecked()) peers_.keepPreview->show();
}

void MainWindow::closeRecordingOnExit() { session_.closeOnExit(); }

void MainWindow::showGrabError(const QString& message) {
  // An error box runs its own message loop, in which the grabs go on; a
  // failing grab must not stack a new box every time.
  if (reportingGrabError_) return;
  reportingGrabError_ = true;
  framework::ShowException(std::runtime_error(message.toStdString()));
  reportingGrabError_ = false;
}

// Runs after each grab, unless the remote control is off.
void MainWindow::placeRemoteControl() {
  if (remoteOff_) return;
  const wnd::RECT& a = session_.area();
  peers_.remote->showBelow({a.left, a.top, a.width(), a.height()}, !remoteMoveable_);
}

}  // namespace app
