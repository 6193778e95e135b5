#include "target/unit8.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QToolBar>

TForm8::TForm8(QWidget* parent) : QWidget(parent, Qt::Dialog) {
  setObjectName(QStringLiteral("Form8"));
  setWindowTitle(QStringLiteral("Remote Control"));
  auto* lay = new QHBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  ToolBar1 = new QToolBar(this);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  lay->addWidget(ToolBar1);
  auto make = [this](const char* name, const char* caption, bool enabled, void (TForm8::*h)()) {
    auto* b = new QPushButton(QString::fromLatin1(caption), ToolBar1);
    b->setObjectName(QString::fromLatin1(name));
    b->setEnabled(enabled);
    ToolBar1->addWidget(b);
    connect(b, &QPushButton::clicked, this, [this, h] { (this->*h)(); });
    return b;
  };
  Button1 = make("Button1", "Start", false, &TForm8::Button1Click);
  Button2 = make("Button2", "Pause", false, &TForm8::Button2Click);
  Button3 = make("Button3", "Stop", false, &TForm8::Button3Click);
  Button4 = make("Button4", "Cancel", true, &TForm8::Button4Click);
  Button5 = make("Button5", "Show", true, &TForm8::Button5Click);
  setFixedSize(240, 30);
  move(0, 0);
}

void TForm8::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  FormShow();
}

// The button steps arrive with the recorder.
void TForm8::Button1Click() {}
void TForm8::Button2Click() {}
void TForm8::Button3Click() {}
void TForm8::Button4Click() {}
void TForm8::Button5Click() {}
void TForm8::FormShow() {}
