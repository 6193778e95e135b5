#pragma once
// The window-or-area dialog: how the capture frame finds its rectangle.
#include <QWidget>

class QPushButton;
class QRadioButton;

class TForm2 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);

  QRadioButton* RadioButton1;  // Window mode
  QRadioButton* RadioButton2;  // Area mode
  QPushButton* Button1;        // "OK"
  QPushButton* Button3;        // "Cancel"
  QPushButton* Button2;        // "Help"

  void Button1Click();
  void Button3Click();
  void Button2Click();
};
