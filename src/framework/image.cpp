#include "framework/image.h"

#include <QPaintEvent>
#include <QPainter>

#include "platform/gdi/qimage.h"

namespace framework {

Image::Image(QWidget* parent, const QString& name) : QWidget(parent) { setObjectName(name); }

void Image::setPicture(const gdi::Bitmap& bmp) {
  picture_ = bmp;
  update();
}

void Image::setStretch(bool on) {
  if (on == stretch_) return;
  stretch_ = on;
  update();
}

void Image::paintEvent(QPaintEvent* e) {
  if (picture_.empty()) return;
  QPainter p(this);
  if (stretch_) {
    p.drawImage(rect(), gdi::toQImage(picture_));
    return;
  }
  // Unscaled from the top-left corner: only what the control shows and
  // what needs painting is converted.
  const QRect part = e->rect().intersected(rect());
  p.drawImage(part.topLeft(), gdi::toQImage(picture_, part));
}

}  // namespace framework
