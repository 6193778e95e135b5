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
  advice_ = named<QPlainTextEdit>(this, "Memo1");
  // A text on the dialog rather than an editor: no frame, no scroll bars,
  // the dialog's own colour, nothing to type into.
  QStringList lines;
  for (const char* l : kAdvice) lines << QString::fromLatin1(l);
  advice_->setPlainText(lines.join(QLatin1Char('\n')));
  advice_->setReadOnly(true);
  advice_->setFrameShape(QFrame::NoFrame);
  advice_->setLineWrapMode(QPlainTextEdit::NoWrap);
  advice_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  advice_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  advice_->setFocusPolicy(Qt::NoFocus);
  advice_->setBackgroundRole(QPalette::Window);
  QPalette pal = advice_->palette();
  pal.setColor(QPalette::Base, pal.color(QPalette::Window));
  advice_->setPalette(pal);
  const QFontMetrics fm(advice_->font());
  int width = 0;
  for (const QString& l : lines) width = qMax(width, fm.horizontalAdvance(l));
  advice_->setMinimumSize(width + 16, fm.lineSpacing() * int(lines.size()) + 12);
  label_ = named<QLabel>(this, "Label1", QStringLiteral("Frames Per Second"));
  rateEdit_ = named<QLineEdit>(this, "Edit1", QStringLiteral("3"));
  label_->setBuddy(rateEdit_);
  okButton_ = named<QPushButton>(this, "Button1", QStringLiteral("OK"));
  cancelButton_ = named<QPushButton>(this, "Button2", QStringLiteral("Cancel"));
  helpButton_ = named<QPushButton>(this, "Button3", QStringLiteral("Help"));
  framework::addWidgets(lay, {advice_, label_, rateEdit_, okButton_, cancelButton_, helpButton_});
  framework::onClicked({{okButton_, [this] { confirm(); }},
                        {cancelButton_, [this] { cancel(); }},
                        {helpButton_, [this] { showHelp(); }}});
}

QString FrameRateDialog::rateText() const { return rateEdit_->text(); }

void FrameRateDialog::setRateText(const QString& text) { rateEdit_->setText(text); }

// The text stays as typed; nothing is checked here (Start reads it).
void FrameRateDialog::confirm() { hide(); }

// Cancel falls back to one frame per second, not to the text shown before.
void FrameRateDialog::cancel() {
  rateEdit_->setText(QStringLiteral("1"));
  hide();
}

void FrameRateDialog::showHelp() {
  framework::ShowMessage(QStringLiteral("Frames per seconds is how many frames are recorded each second."));
}

}  // namespace app
