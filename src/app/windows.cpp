#include "app/windows.h"

#include <QtGlobal>

#include "app/frameratedialog.h"
#include "app/keeppreviewdialog.h"
#include "app/mainwindow.h"
#include "app/optionsdialog.h"
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
