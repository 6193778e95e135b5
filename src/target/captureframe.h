#pragma once
// The capture frame: a stay-on-top window whose outer rectangle is the
// rectangle that is recorded. It never takes the keyboard focus, so that
// the window the user works in stays the foreground window while the frame
// follows it.
//
// | objectName   | caption / text                          | what it does                                   |
// |--------------|-----------------------------------------|------------------------------------------------|
// | Form4        | "Click on the X" (Area), "Click the the | the frame itself; its outer bounds are what    |
// |              | application to record" (Window)         | is recorded                                    |
// | Memo1, Memo2 | the instructions                        | two copies on one spot; the borderless one shows |
// | Label3       | "X"                                     | a click fixes the rectangle (xClicked)         |
// | WindowMirror | (timer, 3 s)                            | lays the frame over the foreground window      |
#include <QElapsedTimer>
#include <QWidget>

#include "framework/bounds.h"

class QLabel;
class QPlainTextEdit;
namespace framework {
class Timer;
}

namespace target {

class CaptureFrame : public QWidget {
  Q_OBJECT
 public:
  explicit CaptureFrame(QWidget* parent = nullptr);

  // A click on the X: the rectangle is chosen (emits xClicked).
  void fixRectangle();

  // The user picked Area mode: the frame, sizeable again, waits to be
  // moved over the area.
  void chooseArea();
  // The user picked Window mode: the frame follows the foreground window.
  void chooseWindow();
  // The timer that follows the foreground window ("WindowMirror").
  framework::Timer* followTimer() const { return follow_; }
  // One step of the following: the frame covers the foreground window.
  // In a Wayland session a native Wayland window in front is followed
  // through sway's IPC on sway; elsewhere it cannot be (only XWayland's
  // windows are X windows): the first time, the user is told so and
  // offered Area mode.
  void followForegroundWindow();
  // The rectangle recorded: the frame's outer bounds, caption and border
  // included, in device pixels.
  framework::Bounds recordedBounds() const;

  // Frame styles the frame is given by the window-or-area dialog.
  enum class FrameStyle { Sizeable, ToolWindow };
  FrameStyle frameStyle() const { return style_; }
  void setFrameStyle(FrameStyle s);

  // Makes the frame visible and raises it to the top without moving or
  // sizing it, and without activating it.
  void showOnTop();
  // Hides the frame and returns once it is off the screen, so that the
  // next grab shows what lies under it.
  void hideFromScreen();

  // Lets the following of the foreground window size a frame whose style
  // has no sizing border to `outer` (outer bounds, device pixels): the
  // size stays fixed for the user in between.
  class Resizing {
   public:
    Resizing(CaptureFrame* f, int outerWidth, int outerHeight);
    ~Resizing();
    Resizing(const Resizing&) = delete;
    Resizing& operator=(const Resizing&) = delete;

   private:
    CaptureFrame* f_;
    int w_, h_;
  };

 signals:
  // The X was clicked: the rectangle is chosen.
  void xClicked();
  // The frame was moved, sized or hidden: what would be recorded now.
  void rectangleChanged(const framework::Bounds& recorded);

 protected:
  bool eventFilter(QObject* o, QEvent* e) override;
  void moveEvent(QMoveEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  // Hidden once its rectangle is chosen: told once more with the frame the
  // window manager drew, which may have come after the last move.
  void hideEvent(QHideEvent* e) override;

 private:
  QPlainTextEdit* instructions_;
  QPlainTextEdit* instructionsFramed_;
  QLabel* x_;  // the large "X"
  static Qt::WindowFlags flagsFor(FrameStyle s);  // static: used before the object exists
  void lockSize(int outerWidth, int outerHeight);
  FrameStyle style_ = FrameStyle::Sizeable;
  QElapsedTimer shown_;  // since the frame was last shown by us
  framework::Timer* follow_;
  bool toldCannotFollow_ = false;
  void offerArea();
};

}  // namespace target
