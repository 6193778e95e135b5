#pragma once
// The remote control: five buttons that drive the recording while the main
// window is hidden, shown just below the capture rectangle.
#include <QWidget>

class QPushButton;
class QToolBar;

class TForm8 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm8(QWidget* parent = nullptr);

  QToolBar* ToolBar1;
  QPushButton* Button1;  // "Start"
  QPushButton* Button2;  // "Pause" / "UnPause"
  QPushButton* Button3;  // "Stop"
  QPushButton* Button4;  // "Cancel"
  QPushButton* Button5;  // "Show"

  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();
  void FormShow();

 protected:
  void showEvent(QShowEvent* e) override;
};
