#include "target/unit8.h"

#include <QHBoxLayout>
#include <QLayout>
#include <QShowEvent>
#include <QPushButton>
#include <QToolBar>

#include "app/forms.h"
#include "app/main.h"
#include "framework/application.h"
#include "framework/timer.h"

namespace {
constexpr int kClientWidth = 240;
constexpr int kClientHeight = 30;
constexpr int kButtons = 5;
}  // namespace

// A fixed dialog frame: caption and close box, no sizing border, no
// minimise or maximise box. An ordinary window, neither stay-on-top nor a
// tool window, so it appears in the task list while the main window hides.
TForm8::TForm8(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("Form8"));
  setWindowTitle(QStringLiteral("Remote Control"));
  auto* lay = new QHBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  ToolBar1 = new QToolBar(this);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setContentsMargins(0, 0, 0, 0);
  ToolBar1->layout()->setContentsMargins(0, 0, 0, 0);
  ToolBar1->layout()->setSpacing(0);
  lay->addWidget(ToolBar1);
  // Five equal buttons fill the 240-pixel client area exactly, so none
  // ends up behind the toolbar's overflow arrow where no one can reach it.
  auto make = [this](const char* name, const char* caption, bool enabled, void (TForm8::*h)()) {
    auto* b = new QPushButton(QString::fromLatin1(caption), ToolBar1);
    b->setObjectName(QString::fromLatin1(name));
    b->setEnabled(enabled);
    b->setFixedSize(kClientWidth / kButtons, kClientHeight);
    b->setFocusPolicy(Qt::NoFocus);
    ToolBar1->addWidget(b);
    connect(b, &QPushButton::clicked, this, [this, h] { (this->*h)(); });
    return b;
  };
  Button1 = make("Button1", "Start", false, &TForm8::Button1Click);
  Button2 = make("Button2", "Pause", false, &TForm8::Button2Click);
  Button3 = make("Button3", "Stop", false, &TForm8::Button3Click);
  Button4 = make("Button4", "Cancel", true, &TForm8::Button4Click);
  Button5 = make("Button5", "Show", true, &TForm8::Button5Click);
  setFixedSize(kClientWidth, kClientHeight);
  move(0, 0);
}

void TForm8::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  // Spontaneous show events (the window manager mapping it again) are not
  // a showing by the program.
  if (!e->spontaneous()) FormShow();
}

void TForm8::Button1Click() {
  Form1->Button4Click();
  // A frame rate the main window refused leaves it where it was, with the
  // writer timer off; the user corrects the rate and presses Start again.
  if (!Form1->Timer1->Enabled()) return;
  Button1->setEnabled(false);
  Button2->setEnabled(true);
  Button3->setEnabled(true);
  Button4->setEnabled(true);
}

void TForm8::Button2Click() {
  const QString caption = Button2->text();
  if (caption == QLatin1String("Pause")) {
    Button2->setText(QStringLiteral("UnPause"));
    Form1->Button5Click();
    forms::ProcessMessages();
  } else if (caption == QLatin1String("UnPause")) {
    Button2->setText(QStringLiteral("Pause"));
    Form1->Button5Click();
    forms::ProcessMessages();
  }
}

void TForm8::Button3Click() {
  Form1->Button6Click();
  Button1->setEnabled(false);
  Button2->setEnabled(false);
  Button3->setEnabled(false);
}

void TForm8::Button4Click() {
  Form1->show();
  Form1->Button7Click();
  Button1->setEnabled(false);
  Button2->setEnabled(false);
  Button3->setEnabled(false);
  hide();
}

void TForm8::Button5Click() {
  Form1->show();
  Form1->raise();
}

void TForm8::FormShow() {
  if (Form1) Form1->hide();
}
