#pragma once
// The capture frame: a stay-on-top window whose outer rectangle is the
// rectangle that is recorded.
#include <QWidget>

class QLabel;
class QPlainTextEdit;

class TForm4 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm4(QWidget* parent = nullptr);

  QPlainTextEdit* Memo1;
  QPlainTextEdit* Memo2;
  QLabel* Label3;  // the large "X"

  void Label3Click();
};
