#include "target/winorarea.h"

#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/forms.h"
#include "app/main.h"
#include "framework/dialogs.h"
#include "framework/timer.h"
#include "target/mirror.h"



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

// Area first, then Window; the buttons exclude each other, so at most one
// path runs, and with neither checked the dialog stays open.
void TForm2::Button1Click() {
  if (RadioButton2->isChecked()) {
    // After a Window-mode use the frame has lost its sizing border; Area
    // mode is about sizing the frame by hand, so it gets the border back.
    Form4->setFrameStyle(TForm4::FrameStyle::Sizeable);
    Form4->showOnTop();
    Form4->setWindowTitle(QStringLiteral("Click on the X"));
    hide();
  }
  if (RadioButton1->isChecked()) {
    Form1->WindowMirror->setEnabled(true);
    Form4->showOnTop();
    Form4->setWindowTitle(QStringLiteral("Click the the application to record"));
    Form4->setFrameStyle(TForm4::FrameStyle::ToolWindow);
    hide();
  }
}

void TForm2::Button3Click() {
  Form1->Button7Click();
  hide();
}

void TForm2::Button2Click() {
  forms::ShowMessage(
      QStringLiteral("1. Window  If you wish to record a Video Conferencing Program Video Window then you might tru "
                     "Window.\r\n2. Area  If you wish to just record an area, example a WebCam Then click on "
                     "\"area\""));
}
