#include "target/mirror.h"

#include <QLabel>
#include <QPlainTextEdit>

TForm4::TForm4(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("Form4"));
  setWindowTitle(QStringLiteral("Click on X"));
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo2 = new QPlainTextEdit(this);
  Memo2->setObjectName(QStringLiteral("Memo2"));
  Label3 = new QLabel(QStringLiteral("X"), this);
  Label3->setObjectName(QStringLiteral("Label3"));
}

// Fixing the rectangle arrives with target selection.
void TForm4::Label3Click() {}
