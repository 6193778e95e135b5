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

  // The frame rate as typed (Start reads it, the preferences keep it).
  QString rateText() const;
  void setRateText(const QString& text);

 private:
  void confirm();
  void cancel();
  void showHelp();

  QPlainTextEdit* advice_;
  QLabel* label_;
  QLineEdit* rateEdit_;
  QPushButton* okButton_;
  QPushButton* cancelButton_;
  QPushButton* helpButton_;
};

}  // namespace app
