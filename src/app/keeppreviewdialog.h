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

 signals:
  // After the dialog hid itself.
  void chosen(bool keepPreview);
  void cancelled();

 private:
  void confirm();
  void cancel();
  void showHelp();

  QRadioButton* keep_;
  QRadioButton* noPreview_;
  QPushButton* okButton_;
  QPushButton* cancelButton_;
  QPushButton* helpButton_;
};

}  // namespace app
