#include "support/programwindows.h"

#include <QApplication>

#include "app/mainwindow.h"
#include "app/windows.h"
#include "recording/grabber.h"
#include "recording/session.h"
#include <QMenu>
#include <utility>
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
    control<framework::Timer>(windows_->mainWindow(), "Timer2")->setEnabled(false);
  else if (prefs_ == Preferences::Loaded)
    pumpUntil([this] { return !control<framework::Timer>(windows_->mainWindow(), "Timer2")->Enabled(); }, 5000);
}

void ProgramWindows::close() {
  if (!windows_) return;
  windows_->mainWindow()->closeRecordingOnExit();
  g_current = nullptr;
  windows_.reset();
  QApplication::processEvents();  // what the closed windows left queued
}

QAction* menuItem(const char* name) {
  if (!g_current) return nullptr;
  for (QAction* a : g_current->mainWindow()->findChildren<QAction*>(QLatin1String(name)))
    if (!a->menu()) return a;
  return nullptr;
}

namespace {
class PictureGrabber final : public recording::Grabber {
 public:
  explicit PictureGrabber(gdi::Bitmap picture) : picture_(std::move(picture)) {}
  void start(const wnd::RECT&) override {}
  bool arrived() override { return true; }
  gdi::Bitmap finish() override { return picture_; }

 private:
  gdi::Bitmap picture_;
};
}  // namespace

void showOnScreen(const gdi::Bitmap& picture) {
  g_current->session().setGrabber(std::make_unique<PictureGrabber>(picture));
}

void ProgramWindows::restart() {
  close();
  open();
}

}  // namespace testsupport

app::MainWindow* mainWindow() { return g_current ? g_current->mainWindow() : nullptr; }
recording::Session& session() { return g_current->session(); }
target::RemoteControl* remoteControl() { return g_current ? g_current->remoteControl() : nullptr; }
target::CaptureModeDialog* captureModeDialog() { return g_current ? g_current->captureModeDialog() : nullptr; }
target::PictureWindow* pictureWindow() { return g_current ? g_current->pictureWindow() : nullptr; }
target::CaptureFrame* captureFrame() { return g_current ? g_current->captureFrame() : nullptr; }
app::KeepPreviewDialog* keepPreviewDialog() { return g_current ? g_current->keepPreviewDialog() : nullptr; }
app::FrameRateDialog* frameRateDialog() { return g_current ? g_current->frameRateDialog() : nullptr; }
app::OptionsDialog* optionsDialog() { return g_current ? g_current->optionsDialog() : nullptr; }
