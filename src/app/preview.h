#pragma once
// The keep-preview dialog, offered after a recording is closed.
#include <QWidget>

class QPushButton;
class QRadioButton;

class TForm5 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm5(QWidget* parent = nullptr);

  QRadioButton* RadioButton1;  // "Keep Preview"
  QRadioButton* RadioButton2;  // "No Preview"
  QPushButton* Button2;        // "OK"
  QPushButton* Button3;        // "Cancel"
  QPushButton* Button1;        // "Help"

  void Button2Click();
  void Button3Click();
  void Button1Click();
};
