#include "target/remotecontrol.h"

#include <QHBoxLayout>
#include <QLayout>
#include <QPushButton>
#include <QShowEvent>
#include <QToolBar>

#include "framework/application.h"
#include "framework/timer.h"
#include "framework/widgets.h"
#include "recording/recorder.h"

namespace target {

namespace {
constexpr int kClientWidth = 240;
constexpr int kClientHeight = 30;
constexpr int kButtons = 5;
}  // namespace

// A fixed dialog frame: caption and close box, no sizing border, no
// minimise or maximise box. An ordinary window, neither stay-on-top nor a
// tool window, so it appears in the task list while the main window hides.
RemoteControl::RemoteControl(const recording::Recorder& recorder, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      recorder_(recorder) {
  setObjectName(QStringLiteral("Form8"));
  setWindowTitle(QStringLiteral("Remote Control"));
  auto* lay = new QHBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  ToolBar1 = framework::named<QToolBar>(this, "ToolBar1");
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setContentsMargins(0, 0, 0, 0);
  ToolBar1->layout()->setContentsMargins(0, 0, 0, 0);
  ToolBar1->layout()->setSpacing(0);
  lay->addWidget(ToolBar1);
  // Five equal buttons fill the 240-pixel client area exactly, so none
  // ends up behind the toolbar's overflow arrow where no one can reach it.
  auto make = [this](const char* name, const char* caption, bool enabled, void (RemoteControl::*h)()) {
    QPushButton* b = framework::addToolButton(ToolBar1, name, caption, enabled, [this, h] { (this->*h)(); });
    b->setFixedSize(kClientWidth / kButtons, kClientHeight);
    return b;
  };
  Button1 = make("Button1", "Start", false, &RemoteControl::Button1Click);
  Button2 = make("Button2", "Pause", false, &RemoteControl::Button2Click);
  Button3 = make("Button3", "Stop", false, &RemoteControl::Button3Click);
  Button4 = make("Button4", "Cancel", true, &RemoteControl::Button4Click);
  Button5 = make("Button5", "Show", true, &RemoteControl::Button5Click);
  setFixedSize(kClientWidth, kClientHeight);
  move(0, 0);
}

void RemoteControl::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  // Spontaneous show events (the window manager mapping it again) are not
  // a showing by the program.
  if (!e->spontaneous()) emit shown();
}

void RemoteControl::showBelow(const framework::Bounds& capture, bool followCapture) {
  if (followCapture) {
    framework::Bounds remote = framework::outerBounds(this);
    const int left = capture.left;
    const int top = capture.top + capture.height;
    if (remote.left != left || remote.top != top) {
      remote.left = left;
      remote.top = top;
      framework::setOuterBounds(this, remote);
    }
  }
  if (!isVisible()) {
    show();
    raise();
  }
}

void RemoteControl::Button1Click() {
  emit startClicked();
  // A frame rate the main window refused leaves it where it was, with the
  // writer timer off; the user corrects the rate and presses Start again.
  if (!recorder_.writeTimer()->Enabled()) return;
  Button1->setEnabled(false);
  Button2->setEnabled(true);
  Button3->setEnabled(true);
  Button4->setEnabled(true);
}

void RemoteControl::Button2Click() {
  const QString caption = Button2->text();
  if (caption == QLatin1String("Pause")) {
    Button2->setText(QStringLiteral("UnPause"));
  } else if (caption == QLatin1String("UnPause")) {
    Button2->setText(QStringLiteral("Pause"));
  } else {
    return;
  }
  emit pauseClicked();
  framework::ProcessMessages();
}

void RemoteControl::Button3Click() {
  emit stopClicked();
  Button1->setEnabled(false);
  Button2->setEnabled(false);
  Button3->setEnabled(false);
}

void RemoteControl::Button4Click() {
  emit showMainWindowClicked();
  emit cancelClicked();
  Button1->setEnabled(false);
  Button2->setEnabled(false);
  Button3->setEnabled(false);
  hide();
}

void RemoteControl::Button5Click() { emit showMainWindowClicked(); }

}  // namespace target
