#include "app/windows.h"

#include <QApplication>
#include <QKeySequenceEdit>
#include <QMessageBox>
#include <QtGlobal>

#include "app/frameratedialog.h"
#include "app/globalshortcuts.h"
#include "app/keeppreviewdialog.h"
#include "app/mainwindow.h"
#include "app/optionsdialog.h"
#include "framework/application.h"
#include "recording/grabber.h"
#include "recording/session.h"
#include "target/captureframe.h"
#include "target/capturemodedialog.h"
#include "target/picturewindow.h"
#include "target/remotecontrol.h"

// The icons live in the app library; a static library must register its
// resources itself.
static void initResources() { Q_INIT_RESOURCE(resources); }

namespace app {

Windows::Windows()
    : session_(std::make_unique<recording::Session>(std::make_unique<recording::ScreenGrabber>())) {
  initResources();
  remote_ = std::make_unique<target::RemoteControl>();
  main_ = std::make_unique<MainWindow>(*session_);
  captureMode_ = std::make_unique<target::CaptureModeDialog>();
  picture_ = std::make_unique<target::PictureWindow>();
  captureFrame_ = std::make_unique<target::CaptureFrame>();
  keepPreview_ = std::make_unique<KeepPreviewDialog>();
  frameRate_ = std::make_unique<FrameRateDialog>();
  options_ = std::make_unique<OptionsDialog>(frameRate_.get());
  main_->connectPeers({remote_.get(), captureMode_.get(), captureFrame_.get(), keepPreview_.get(), frameRate_.get(),
                       options_.get()});
  connectShortcuts();
}

// The global shortcuts give the toolbar's commands: Start/Stop starts a
// recording whose rectangle is chosen (Start's compressor dialog, unless
// a dialog is up already) and stops one under way; Pause/UnPause is the
// Pause button. Their keys are the options dialog's.
void Windows::connectShortcuts() {
  MainWindow* main = main_.get();
  auto* shortcuts = new GlobalShortcuts(main);
  using Command = GlobalShortcuts::Command;
  QObject::connect(options_->startStopKeyEdit(), &QKeySequenceEdit::keySequenceChanged, shortcuts,
                   [shortcuts](const QKeySequence& k) { shortcuts->set(Command::StartStop, k); });
  QObject::connect(options_->pauseKeyEdit(), &QKeySequenceEdit::keySequenceChanged, shortcuts,
                   [shortcuts](const QKeySequence& k) { shortcuts->set(Command::Pause, k); });
  QObject::connect(shortcuts, &GlobalShortcuts::activated, main, [main](Command c) {
    const recording::RecordState s = main->session().state();
    if (c == Command::Pause) {
      main->togglePause();
    } else if (s == recording::RecordState::Recording || s == recording::RecordState::Paused) {
      main->stopRecording();
    } else if (s == recording::RecordState::Ready && !QApplication::activeModalWidget()) {
      main->startRecording();
    }
  });
  // Said once: under the shortcuts in the options dialog, on the error
  // output, and in a box when the dialog is open (the user just chose the key).
  OptionsDialog* options = options_.get();
  QObject::connect(shortcuts, &GlobalShortcuts::notice, options, [options](const QString& text) {
    options->showShortcutsNote(text);
    qWarning("%s", qPrintable(text));
    if (!options->isVisible()) return;
    auto* box = new QMessageBox(QMessageBox::Information, framework::Application::title(), text, QMessageBox::Ok);
    box->setObjectName(QStringLiteral("MessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  });
  QObject::connect(shortcuts, &GlobalShortcuts::allHeld, options, [options] { options->showShortcutsNote(QString()); });
  QObject::connect(shortcuts, &GlobalShortcuts::boundByDesktop, options, &OptionsDialog::showShortcutsNote);
}

Windows::~Windows() {
  options_.reset();
  frameRate_.reset();
  keepPreview_.reset();
  captureFrame_.reset();
  picture_.reset();
  captureMode_.reset();
  main_.reset();
  remote_.reset();
}

}  // namespace app
