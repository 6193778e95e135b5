#pragma once
#include <QWidget>

#include "platform/gdi/bitmap.h"

namespace framework {

// An image control: holds a picture (a bitmap) and draws it, at its own
// size from the top-left corner, or stretched to the control's size.
class Image : public QWidget {
  Q_OBJECT
 public:
  Image(QWidget* parent, const QString& name);

  const gdi::Bitmap& picture() const { return picture_; }
  void setPicture(const gdi::Bitmap& bmp);
  bool Stretch() const { return stretch_; }
  void setStretch(bool on);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  gdi::Bitmap picture_;
  bool stretch_ = false;
};


}  // namespace framework
