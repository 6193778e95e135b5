#include "framework/image.h"

#include <QPainter>

#include "platform/gdi/qimage.h"

namespace forms {

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

void Image::paintEvent(QPaintEvent*) {
  if (picture_.empty()) return;
  QPainter p(this);
  const QImage img = gdi::toQImage(picture_);
  if (stretch_) p.drawImage(rect(), img);
  else p.drawImage(QPoint(0, 0), img);
}

}  // namespace forms
