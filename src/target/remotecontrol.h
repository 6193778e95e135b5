#pragma once
// The remote control: five buttons that drive the recording while the main
// window is hidden, shown just below the capture rectangle.
//
// | objectName | caption              | what it does                                  |
// |------------|----------------------|-----------------------------------------------|
// | Form8      | "Remote Control"     | the window                                    |
// | ToolBar1   |                      | holds the buttons                             |
// | Button1    | "Start"              | starts the recording                          |
// | Button2    | "Pause" / "UnPause"  | pauses and resumes                            |
// | Button3    | "Stop"               | stops and completes the file                  |
// | Button4    | "Cancel"             | cancels, shows the main window, hides itself  |
// | Button5    | "Show"               | brings the main window back                   |
//
// The main window carries out each command (it owns the toolbar that
// mirrors these buttons); this window only says which was pressed.
#include <QWidget>

#include "framework/bounds.h"

class QPushButton;
class QToolBar;

namespace recording {
class Recorder;
}

namespace target {

class RemoteControl : public QWidget {
  Q_OBJECT
 public:
  explicit RemoteControl(const recording::Recorder& recorder, QWidget* parent = nullptr);

  QToolBar* ToolBar1;
  QPushButton* Button1;  // "Start"
  QPushButton* Button2;  // "Pause" / "UnPause"
  QPushButton* Button3;  // "Stop"
  QPushButton* Button4;  // "Cancel"
  QPushButton* Button5;  // "Show"

  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();

  // Stands with its outer top-left corner on the capture rectangle's
  // bottom-left corner (unless `followCapture` is off) and is shown. It is
  // not pulled back onto the screen when the rectangle reaches the bottom.
  void showBelow(const framework::Bounds& capture, bool followCapture);

 signals:
  void startClicked();
  void pauseClicked();
  void stopClicked();
  void cancelClicked();
  void showMainWindowClicked();
  // Shown by the program (not by the window manager mapping it again).
  void shown();

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  const recording::Recorder& recorder_;
};

}  // namespace target
