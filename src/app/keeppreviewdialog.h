#pragma once
// The keep-preview dialog, offered after a recording is closed.
//
// | objectName   | caption          | what it does                               |
// |--------------|------------------|--------------------------------------------|
// | Form5        | "Keep Preview ?" | the dialog                                 |
// | RadioButton1 | "Keep Preview"   | the preview goes on updating               |
// | RadioButton2 | "No Preview"     | the preview stops (default)                |
// | Button2      | "OK"             | chosen(keep)                               |
// | Button3      | "Cancel"         | cancelled (the preview stops)              |
// | Button1      | "Help"           | explains the choice                        |
#include <QWidget>

class QPushButton;
class QRadioButton;

namespace app {

class KeepPreviewDialog : public QWidget {
  Q_OBJECT
 public:
  explicit KeepPreviewDialog(QWidget* parent = nullptr);

  QRadioButton* RadioButton1;  // "Keep Preview"
  QRadioButton* RadioButton2;  // "No Preview"
  QPushButton* Button2;        // "OK"
  QPushButton* Button3;        // "Cancel"
  QPushButton* Button1;        // "Help"

  void Button2Click();
  void Button3Click();
  void Button1Click();

 signals:
  // After the dialog hid itself.
  void chosen(bool keepPreview);
  void cancelled();
};

}  // namespace app
