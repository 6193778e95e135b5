#include "app/unit9.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

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
  lay->addWidget(StatusBar1);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
}

// The buttons arrive with the preferences.
void TForm9::Button1Click() {}
void TForm9::Button2Click() {}
void TForm9::Button3Click() {}
