#pragma once
// The capture frame: a stay-on-top window whose outer rectangle is the
// rectangle that is recorded. It never takes the keyboard focus, so that
// the window the user works in stays the foreground window while the frame
// follows it.
#include <QElapsedTimer>
#include <QWidget>

class QLabel;
class QPlainTextEdit;

class TForm4 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm4(QWidget* parent = nullptr);

  QPlainTextEdit* Memo1;
  QPlainTextEdit* Memo2;
  QLabel* Label3;  // the large "X"

  void Label3Click();

  // Frame styles the frame is given by the window-or-area dialog.
  enum class FrameStyle { Sizeable, ToolWindow };
  FrameStyle frameStyle() const { return style_; }
  void setFrameStyle(FrameStyle s);

  // Makes the frame visible and raises it to the top without moving or
  // sizing it, and without activating it.
  void showOnTop();

  // Lets the following of the foreground window size a frame whose style
  // has no sizing border to `outer` (outer bounds, device pixels): the
  // size stays fixed for the user in between.
  class Resizing {
   public:
    Resizing(TForm4* f, int outerWidth, int outerHeight);
    ~Resizing();
    Resizing(const Resizing&) = delete;
    Resizing& operator=(const Resizing&) = delete;

   private:
    TForm4* f_;
    int w_, h_;
  };

 protected:
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  static Qt::WindowFlags flagsFor(FrameStyle s);  // static: used before the object exists
  void lockSize(int outerWidth, int outerHeight);
  FrameStyle style_ = FrameStyle::Sizeable;
  QElapsedTimer shown_;  // since the frame was last shown by us
};
