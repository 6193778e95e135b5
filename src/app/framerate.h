#pragma once
// The frame-rate dialog: its edit box holds the recording's frame rate.
#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TForm6 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm6(QWidget* parent = nullptr);

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
