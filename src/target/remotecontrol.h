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
// The main window carries out each command; this window says which was
// pressed and shows the recording's state (showState), nothing else.
#include <QWidget>

#include "framework/bounds.h"
#include "recording/session.h"

class QPushButton;
class QToolBar;

namespace target {

class RemoteControl : public QWidget {
  Q_OBJECT
 public:
  explicit RemoteControl(QWidget* parent = nullptr);

  // The buttons as the recording's state has them: Start while a target is
  // being chosen or fixed, Pause ("UnPause" while paused) and Stop while a
  // recording runs; Cancel and Show always.
  void showState(recording::RecordState s);

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
  void cancel();
  QPushButton* startButton_;
  QPushButton* pauseButton_;
  QPushButton* stopButton_;
  QPushButton* cancelButton_;
  QPushButton* showButton_;
};

}  // namespace target
