#include "target/winorarea.h"

#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("Type recording ?"));
  auto* lay = new QVBoxLayout(this);
  RadioButton1 = new QRadioButton(QStringLiteral("Window    i.e. Applicaions"), this);
  RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
  RadioButton2 = new QRadioButton(QStringLiteral("Area          i.e. WebCam"), this);
  RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
  RadioButton2->setChecked(true);
  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button3 = new QPushButton(QStringLiteral("Cancel"), this);
  Button3->setObjectName(QStringLiteral("Button3"));
  Button2 = new QPushButton(QStringLiteral("Help"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  for (QWidget* w : {static_cast<QWidget*>(RadioButton1), static_cast<QWidget*>(RadioButton2),
                     static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button3), static_cast<QWidget*>(Button2)})
    lay->addWidget(w);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

// The modes arrive with target selection.
void TForm2::Button1Click() {}
void TForm2::Button3Click() {}
void TForm2::Button2Click() {}
