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
  // Drawn from the picture's own pixels where Qt can read them as they lie:
  // scaling samples only the pixels it shows, and unscaled only the part
  // that needs painting is read.
  const QImage image = gdi::viewOf(picture_);
  if (stretch_) {
    p.drawImage(rect(), image);
    return;
  }
  const QRect part = e->rect().intersected(rect()).intersected(image.rect());
  if (!part.isEmpty()) p.drawImage(part.topLeft(), image, part);
}

}  // namespace framework
