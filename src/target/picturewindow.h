#pragma once
// The picture window: created at start-up and never shown.
//
// | objectName | caption   | what it does            |
// |------------|-----------|-------------------------|
// | Form3      | "Picture" | the window              |
// | Image1     |           | an image control, empty |
#include <QWidget>

namespace framework {
class Image;
}

namespace target {

class PictureWindow : public QWidget {
  Q_OBJECT
 public:
  explicit PictureWindow(QWidget* parent = nullptr);
  framework::Image* picture() const { return picture_; }

 private:
  framework::Image* picture_;
};

}  // namespace target
