#pragma once
// The program's windows: one object creates them hidden, wires them to one
// another and destroys them. Nothing else holds a window globally.
#include <memory>

namespace recording {
class Session;
}
namespace target {
class CaptureFrame;
class CaptureModeDialog;
class PictureWindow;
class RemoteControl;
}  // namespace target

namespace app {

class FrameRateDialog;
class KeepPreviewDialog;
class MainWindow;
class OptionsDialog;

class Windows {
 public:
  // Creates every window hidden, in the order: remote control, main
  // window, capture-mode dialog, picture window, capture frame,
  // keep-preview dialog, frame-rate dialog, options dialog.
  Windows();
  // Destroys the windows in the reverse order; an open recording's file
  // is completed.
  ~Windows();
  Windows(const Windows&) = delete;
  Windows& operator=(const Windows&) = delete;

  recording::Session& session() const { return *session_; }
  target::RemoteControl* remoteControl() const { return remote_.get(); }
  MainWindow* mainWindow() const { return main_.get(); }
  target::CaptureModeDialog* captureModeDialog() const { return captureMode_.get(); }
  target::PictureWindow* pictureWindow() const { return picture_.get(); }
  target::CaptureFrame* captureFrame() const { return captureFrame_.get(); }
  KeepPreviewDialog* keepPreviewDialog() const { return keepPreview_.get(); }
  FrameRateDialog* frameRateDialog() const { return frameRate_.get(); }
  OptionsDialog* optionsDialog() const { return options_.get(); }

 private:
  void connectShortcuts();

  std::unique_ptr<recording::Session> session_;  // outlives every window
  std::unique_ptr<target::RemoteControl> remote_;
  std::unique_ptr<MainWindow> main_;
  std::unique_ptr<target::CaptureModeDialog> captureMode_;
  std::unique_ptr<target::PictureWindow> picture_;
  std::unique_ptr<target::CaptureFrame> captureFrame_;
  std::unique_ptr<KeepPreviewDialog> keepPreview_;
  std::unique_ptr<FrameRateDialog> frameRate_;
  std::unique_ptr<OptionsDialog> options_;
};

}  // namespace app
