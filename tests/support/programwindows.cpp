#include "support/programwindows.h"

#include <QApplication>

#include "app/mainwindow.h"
#include "app/windows.h"
#include "framework/timer.h"
#include "support/modal.h"
#include "target/remotecontrol.h"

namespace {
app::Windows* g_current = nullptr;
}

namespace testsupport {

ProgramWindows::ProgramWindows(Preferences p) : prefs_(p) { open(); }

ProgramWindows::~ProgramWindows() { close(); }

void ProgramWindows::open() {
  windows_ = std::make_unique<app::Windows>();
  g_current = windows_.get();
  if (prefs_ == Preferences::Ignored)
    windows_->mainWindow()->Timer2->setEnabled(false);
  else if (prefs_ == Preferences::Loaded)
    pumpUntil([this] { return !windows_->mainWindow()->Timer2->Enabled(); }, 5000);
}

void ProgramWindows::close() {
  if (!windows_) return;
  windows_->mainWindow()->closeRecordingOnExit();
  g_current = nullptr;
  windows_.reset();
  QApplication::processEvents();  // what the closed windows left queued
}

void ProgramWindows::restart() {
  close();
  open();
}

}  // namespace testsupport

app::MainWindow* mainWindow() { return g_current ? g_current->mainWindow() : nullptr; }
recording::Recorder& recorder() { return g_current->recorder(); }
target::RemoteControl* remoteControl() { return g_current ? g_current->remoteControl() : nullptr; }
target::CaptureModeDialog* captureModeDialog() { return g_current ? g_current->captureModeDialog() : nullptr; }
target::PictureWindow* pictureWindow() { return g_current ? g_current->pictureWindow() : nullptr; }
target::CaptureFrame* captureFrame() { return g_current ? g_current->captureFrame() : nullptr; }
app::KeepPreviewDialog* keepPreviewDialog() { return g_current ? g_current->keepPreviewDialog() : nullptr; }
app::FrameRateDialog* frameRateDialog() { return g_current ? g_current->frameRateDialog() : nullptr; }
app::OptionsDialog* optionsDialog() { return g_current ? g_current->optionsDialog() : nullptr; }
