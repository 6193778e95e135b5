#include "app/unit9.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/forms.h"
#include "app/main.h"
#include "app/framerate.h"
#include "framework/statusbar.h"

TForm9::TForm9(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("Form9"));
  setWindowTitle(QStringLiteral("Options"));
  auto* lay = new QVBoxLayout(this);
  GroupBox1 = new QGroupBox(QStringLiteral("Options"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  auto* g = new QVBoxLayout(GroupBox1);
  CheckBox1 = new QCheckBox(QStringLiteral("Stetch Image"), GroupBox1);
  CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
  CheckBox2 = new QCheckBox(QStringLiteral("Remote Control"), GroupBox1);
  CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
  CheckBox3 = new QCheckBox(QStringLiteral("Final Preview"), GroupBox1);
  CheckBox3->setObjectName(QStringLiteral("CheckBox3"));
  Button1 = new QPushButton(QStringLiteral("Frame Rate"), GroupBox1);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button2 = new QPushButton(QStringLiteral("OK"), GroupBox1);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button3 = new QPushButton(QStringLiteral("Help"), GroupBox1);
  Button3->setObjectName(QStringLiteral("Button3"));
  Button3->hide();
  for (QWidget* w : {static_cast<QWidget*>(CheckBox1), static_cast<QWidget*>(CheckBox2),
                     static_cast<QWidget*>(CheckBox3), static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button2),
                     static_cast<QWidget*>(Button3)})
    g->addWidget(w);
  lay->addWidget(GroupBox1);
  StatusBar1 = new forms::StatusBar(this, QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  lay->addWidget(StatusBar1);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });

  // Only the dialog, the group box and "Stetch Image" react to the mouse
  // passing over them. Every other control keeps its mouse moves to itself,
  // so passing over it leaves the hint line as it was instead of letting
  // the group box or the dialog behind it clear the line.
  setMouseTracking(true);
  GroupBox1->setMouseTracking(true);
  CheckBox1->setMouseTracking(true);
  GroupBox1->installEventFilter(this);
  CheckBox1->installEventFilter(this);
  for (QWidget* w : {static_cast<QWidget*>(GroupBox1), static_cast<QWidget*>(CheckBox1),
                     static_cast<QWidget*>(CheckBox2), static_cast<QWidget*>(CheckBox3), static_cast<QWidget*>(Button1),
                     static_cast<QWidget*>(Button2), static_cast<QWidget*>(Button3), static_cast<QWidget*>(StatusBar1)})
    w->setAttribute(Qt::WA_NoMousePropagation);
}

bool TForm9::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove) {
    if (watched == CheckBox1)
      CheckBox1MouseMove();
    else if (watched == GroupBox1)
      GroupBox1MouseMove();
  }
  return QWidget::eventFilter(watched, event);
}

void TForm9::mouseMoveEvent(QMouseEvent* event) {
  FormMouseMove();
  QWidget::mouseMoveEvent(event);
}

void TForm9::CheckBox1MouseMove() {
  StatusBar1->setSimpleText(QStringLiteral("Stretch the viewing image to fit the preview window."));
}

void TForm9::GroupBox1MouseMove() { StatusBar1->setSimpleText(QString()); }

void TForm9::FormMouseMove() { StatusBar1->setSimpleText(QString()); }

void TForm9::Button1Click() {
  Form6->show();
  Form6->raise();
  Form6->activateWindow();
}

void TForm9::Button2Click() {
  hide();
  Form1->show();
}

// The help button is hidden and has nothing to say.
void TForm9::Button3Click() {}
