#include "app/framerate.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TForm6::TForm6(QWidget* parent) : QWidget(parent, Qt::Tool) {
  setObjectName(QStringLiteral("Form6"));
  setWindowTitle(QStringLiteral("Frame Rate"));
  auto* lay = new QVBoxLayout(this);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Label1 = new QLabel(QStringLiteral("Frames Per Second"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Edit1 = new QLineEdit(QStringLiteral("3"), this);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button2 = new QPushButton(QStringLiteral("Cancel"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button3 = new QPushButton(QStringLiteral("Help"), this);
  Button3->setObjectName(QStringLiteral("Button3"));
  for (QWidget* w : {static_cast<QWidget*>(Memo1), static_cast<QWidget*>(Label1), static_cast<QWidget*>(Edit1),
                     static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button2), static_cast<QWidget*>(Button3)})
    lay->addWidget(w);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
}

// The buttons arrive with the preferences.
void TForm6::Button1Click() {}
void TForm6::Button2Click() {}
void TForm6::Button3Click() {}
