#pragma once
// The options dialog: the three stored options, the frame-rate button and a
// hint line that explains the option under the mouse.
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QPushButton;
namespace forms {
class StatusBar;
}

class TForm9 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm9(QWidget* parent = nullptr);

  forms::StatusBar* StatusBar1;  // the hint line
  QGroupBox* GroupBox1;
  QCheckBox* CheckBox1;  // "Stetch Image"
  QCheckBox* CheckBox2;  // "Remote Control"
  QCheckBox* CheckBox3;  // "Final Preview"
  QPushButton* Button1;  // "Frame Rate"
  QPushButton* Button2;  // "OK"
  QPushButton* Button3;  // "Help" (hidden)

  void Button1Click();
  void Button2Click();
  void Button3Click();
  void CheckBox1MouseMove();
  void GroupBox1MouseMove();
  void FormMouseMove();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
};
