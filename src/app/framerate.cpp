#include "app/framerate.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "framework/dialogs.h"

namespace {

// The advice beside the edit box; the blanks at the line ends and the
// double blanks after the full stops are part of it.
const char* const kAdvice[] = {
    "When changing the frame rate it ",
    "is recommened to stay between 1 ",
    "and 10 frames per second.  If your ",
    "recordings are slow, it is due to ",
    "the processes time.  If this occurs ",
    "then you should lower your frame ",
    "rate.",
};

}  // namespace

TForm6::TForm6(QWidget* parent) : QWidget(parent, Qt::Tool) {
  setObjectName(QStringLiteral("Form6"));
  setWindowTitle(QStringLiteral("Frame Rate"));
  auto* lay = new QVBoxLayout(this);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  // A text on the dialog rather than an editor: no frame, no scroll bars,
  // the dialog's own colour, nothing to type into.
  QStringList lines;
  for (const char* l : kAdvice) lines << QString::fromLatin1(l);
  Memo1->setPlainText(lines.join(QLatin1Char('\n')));
  Memo1->setReadOnly(true);
  Memo1->setFrameShape(QFrame::NoFrame);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setFocusPolicy(Qt::NoFocus);
  Memo1->setBackgroundRole(QPalette::Window);
  QPalette pal = Memo1->palette();
  pal.setColor(QPalette::Base, pal.color(QPalette::Window));
  Memo1->setPalette(pal);
  const QFontMetrics fm(Memo1->font());
  int width = 0;
  for (const QString& l : lines) width = qMax(width, fm.horizontalAdvance(l));
  Memo1->setMinimumSize(width + 16, fm.lineSpacing() * int(lines.size()) + 12);
  Label1 = new QLabel(QStringLiteral("Frames Per Second"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Edit1 = new QLineEdit(QStringLiteral("3"), this);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Label1->setBuddy(Edit1);
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

// The text stays as typed; nothing is checked here (Start reads it).
void TForm6::Button1Click() { hide(); }

// Cancel falls back to one frame per second, not to the text shown before.
void TForm6::Button2Click() {
  Edit1->setText(QStringLiteral("1"));
  hide();
}

void TForm6::Button3Click() {
  forms::ShowMessage(QStringLiteral("Frames per seconds is how many frames are recorded each second."));
}
