#include "target/remotecontrol.h"

#include <QHBoxLayout>
#include <QLayout>
#include <QPushButton>
#include <QShowEvent>
#include <QToolBar>
#include <functional>
#include <utility>

#include "framework/application.h"
#include "framework/widgets.h"

namespace target {

namespace {
constexpr int kClientWidth = 240;
constexpr int kClientHeight = 30;
constexpr int kButtons = 5;
}  // namespace

// A fixed dialog frame: caption and close box, no sizing border, no
// minimise or maximise box. An ordinary window, neither stay-on-top nor a
// tool window, so it appears in the task list while the main window hides.
RemoteControl::RemoteControl(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("Form8"));
  setWindowTitle(QStringLiteral("Remote Control"));
  auto* lay = new QHBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  auto* toolBar = framework::named<QToolBar>(this, "ToolBar1");
  toolBar->setMovable(false);
  toolBar->setFloatable(false);
  toolBar->setContentsMargins(0, 0, 0, 0);
  toolBar->layout()->setContentsMargins(0, 0, 0, 0);
  toolBar->layout()->setSpacing(0);
  lay->addWidget(toolBar);
  // Five equal buttons fill the 240-pixel client area exactly, so none
  // ends up behind the toolbar's overflow arrow where no one can reach it.
  auto make = [toolBar](const char* name, const char* caption, bool enabled, std::function<void()> command) {
    QPushButton* b = framework::addToolButton(toolBar, name, caption, enabled, std::move(command));
    b->setFixedSize(kClientWidth / kButtons, kClientHeight);
    return b;
  };
  startButton_ = make("Button1", "Start", false, [this] { emit startClicked(); });
  pauseButton_ = make("Button2", "Pause", false, [this] { emit pauseClicked(); });
  stopButton_ = make("Button3", "Stop", false, [this] { emit stopClicked(); });
  cancelButton_ = make("Button4", "Cancel", true, [this] { cancel(); });
  showButton_ = make("Button5", "Show", true, [this] { emit showMainWindowClicked(); });
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

void RemoteControl::showState(recording::RecordState s) {
  using recording::RecordState;
  const bool recording = s == RecordState::Recording || s == RecordState::Paused;
  startButton_->setEnabled(s == RecordState::ChoosingTarget || s == RecordState::Ready);
  pauseButton_->setEnabled(recording);
  pauseButton_->setText(s == RecordState::Paused ? QStringLiteral("UnPause") : QStringLiteral("Pause"));
  stopButton_->setEnabled(recording);
}

// The main window comes back before the recording is cancelled, and this
// window goes once it is.
void RemoteControl::cancel() {
  emit showMainWindowClicked();
  emit cancelClicked();
  hide();
}

}  // namespace target
