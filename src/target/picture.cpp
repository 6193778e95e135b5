#include "target/picture.h"

#include <QVBoxLayout>

#include "framework/image.h"

TForm3::TForm3(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QStringLiteral("Picture"));
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  Image1 = new forms::Image(this, QStringLiteral("Image1"));
  lay->addWidget(Image1);
}
