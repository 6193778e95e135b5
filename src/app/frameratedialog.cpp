#include "app/frameratedialog.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "framework/dialogs.h"
#include "framework/widgets.h"

namespace app {

using framework::named;

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

FrameRateDialog::FrameRateDialog(QWidget* parent) : QWidget(parent, Qt::Tool) {
  setObjectName(QStringLiteral("Form6"));
  setWindowTitle(QStringLiteral("Frame Rate"));
  auto* lay = new QVBoxLayout(this);
  Memo1 = named<QPlainTextEdit>(this, "Memo1");
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
  Label1 = named<QLabel>(this, "Label1", QStringLiteral("Frames Per Second"));
  Edit1 = named<QLineEdit>(this, "Edit1", QStringLiteral("3"));
  Label1->setBuddy(Edit1);
  Button1 = named<QPushButton>(this, "Button1", QStringLiteral("OK"));
  Button2 = named<QPushButton>(this, "Button2", QStringLiteral("Cancel"));
  Button3 = named<QPushButton>(this, "Button3", QStringLiteral("Help"));
  framework::addWidgets(lay, {Memo1, Label1, Edit1, Button1, Button2, Button3});
  framework::onClicked({{Button1, [this] { Button1Click(); }},
                        {Button2, [this] { Button2Click(); }},
                        {Button3, [this] { Button3Click(); }}});
}

// The text stays as typed; nothing is checked here (Start reads it).
void FrameRateDialog::Button1Click() { hide(); }

// Cancel falls back to one frame per second, not to the text shown before.
void FrameRateDialog::Button2Click() {
  Edit1->setText(QStringLiteral("1"));
  hide();
}

void FrameRateDialog::Button3Click() {
  framework::ShowMessage(QStringLiteral("Frames per seconds is how many frames are recorded each second."));
}

}  // namespace app
