#pragma once
// The picture window: created at start-up and never shown.
#include <QWidget>

namespace forms {
class Image;
}

class TForm3 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm3(QWidget* parent = nullptr);
  forms::Image* Image1;
};
