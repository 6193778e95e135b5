#include "app/preview.h"

#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/forms.h"
#include "app/main.h"
#include "framework/dialogs.h"
#include "framework/timer.h"
#include "target/unit8.h"

TForm5::TForm5(QWidget* parent) : QWidget(parent, Qt::Tool) {
  setObjectName(QStringLiteral("Form5"));
  setWindowTitle(QStringLiteral("Keep Preview ?"));
  auto* lay = new QVBoxLayout(this);
  RadioButton1 = new QRadioButton(QStringLiteral("Keep Preview"), this);
  RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
  RadioButton2 = new QRadioButton(QStringLiteral("No Preview"), this);
  RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
  RadioButton2->setChecked(true);
  Button2 = new QPushButton(QStringLiteral("OK"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button3 = new QPushButton(QStringLiteral("Cancel"), this);
  Button3->setObjectName(QStringLiteral("Button3"));
  Button1 = new QPushButton(QStringLiteral("Help"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  for (QWidget* w : {static_cast<QWidget*>(RadioButton1), static_cast<QWidget*>(RadioButton2),
                     static_cast<QWidget*>(Button2), static_cast<QWidget*>(Button3), static_cast<QWidget*>(Button1)})
    lay->addWidget(w);
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TForm5::Button2Click() {
  if (RadioButton2->isChecked()) {
    Form1->getpic->setEnabled(false);
    Form8->hide();
  } else {
    // "Keep Preview" means what it says: by now Stop or Cancel may have
    // stopped the grab, so it runs again.
    Form1->getpic->setEnabled(true);
  }
  hide();
  Form1->show();
}

void TForm5::Button3Click() {
  hide();
  Form1->getpic->setEnabled(false);
  Form1->show();
}

void TForm5::Button1Click() {
  forms::ShowMessage(QStringLiteral("If you wish to keep the image updating, while not recording then Keep Preview."));
}
