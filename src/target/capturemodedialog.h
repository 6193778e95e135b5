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

  QRadioButton* RadioButton1;  // Window mode
  QRadioButton* RadioButton2;  // Area mode
  QPushButton* Button1;        // "OK"
  QPushButton* Button3;        // "Cancel"
  QPushButton* Button2;        // "Help"

  void Button1Click();
  void Button3Click();
  void Button2Click();

 signals:
  void areaChosen();
  void windowChosen();
  void cancelled();
};

}  // namespace target
