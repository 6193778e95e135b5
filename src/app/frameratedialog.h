#pragma once
// The frame-rate dialog: its edit box holds the recording's frame rate.
//
// | objectName | caption              | what it does                          |
// |------------|----------------------|---------------------------------------|
// | Form6      | "Frame Rate"         | the dialog                            |
// | Memo1      | the advice           | read-only text                        |
// | Label1     | "Frames Per Second"  | the edit box's label                  |
// | Edit1      | "3"                  | the rate Start reads                  |
// | Button1    | "OK"                 | hides, the text stays as typed        |
// | Button2    | "Cancel"             | sets "1" and hides                    |
// | Button3    | "Help"               | explains frames per second            |
#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace app {

class FrameRateDialog : public QWidget {
  Q_OBJECT
 public:
  explicit FrameRateDialog(QWidget* parent = nullptr);

  QPlainTextEdit* Memo1;
  QLabel* Label1;  // "Frames Per Second"
  QLineEdit* Edit1;
  QPushButton* Button1;  // "OK"
  QPushButton* Button2;  // "Cancel"
  QPushButton* Button3;  // "Help"

  void Button1Click();
  void Button2Click();
  void Button3Click();
};

}  // namespace app
