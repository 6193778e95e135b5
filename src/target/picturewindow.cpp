#include "target/picturewindow.h"

#include <QVBoxLayout>

#include "framework/image.h"

namespace target {

PictureWindow::PictureWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QStringLiteral("Picture"));
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  picture_ = new framework::Image(this, QStringLiteral("Image1"));
  lay->addWidget(picture_);
}

}  // namespace target
