#pragma once
// The capture-mode dialog: how the capture frame finds its rectangle.
//
// | objectName   | caption                        | what it does                           |
// |--------------|--------------------------------|----------------------------------------|
// | Form2        | "Type recording ?"             | the dialog                             |
// | RadioButton1 | "Window    i.e. Applicaions"   | the frame follows the foreground window |
// | RadioButton2 | "Area          i.e. WebCam"    | the frame is placed by hand (default)  |
// | Button1      | "OK"                           | areaChosen or windowChosen, then hides |
// | Button3      | "Cancel"                       | cancelled (the recording is cancelled) |
// | Button2      | "Help"                         | explains the two modes                 |
#include <QWidget>

class QPushButton;
class QRadioButton;

namespace target {

class CaptureModeDialog : public QWidget {
  Q_OBJECT
 public:
  explicit CaptureModeDialog(QWidget* parent = nullptr);

 signals:
  void areaChosen();
  void windowChosen();
  void cancelled();

 private:
  void confirm();
  void cancel();
  void showHelp();

  QRadioButton* windowMode_;
  QRadioButton* areaMode_;
  QPushButton* okButton_;
  QPushButton* cancelButton_;
  QPushButton* helpButton_;
};

}  // namespace target
