#include "support/modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace testsupport {

ModalWatcher::ModalWatcher(Handler handler) : handler_(std::move(handler)), timer_(new QTimer) {
  timer_->setInterval(15);
  QObject::connect(timer_, &QTimer::timeout, [this] { poll(); });
  timer_->start();
}

ModalWatcher::~ModalWatcher() { delete timer_; }

QStringList ModalWatcher::texts() const {
  QStringList l;
  for (const auto& s : seen_) l << s.text;
  return l;
}

void ModalWatcher::acceptDefault(QWidget* w) {
  if (auto* box = qobject_cast<QMessageBox*>(w)) {
    QAbstractButton* b = box->defaultButton();
    if (!b && !box->buttons().isEmpty()) b = box->buttons().first();
    if (b) b->click();
    else box->accept();
  } else if (auto* d = qobject_cast<QDialog*>(w)) {
    d->reject();
  }
}

void ModalWatcher::poll() {
  QWidget* w = QApplication::activeModalWidget();
  if (!w) {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->isVisible() && top->isModal()) w = top;
  }
  if (!w) {
    last_ = nullptr;
    return;
  }
  if (w == last_) return;  // still closing; handle each showing once
  last_ = w;
  SeenBox s;
  s.title = w->windowTitle();
  s.className = w->metaObject()->className();
  s.objectName = w->objectName();
  if (auto* box = qobject_cast<QMessageBox*>(w)) s.text = box->text();
  seen_.push_back(s);
  QPointer<QWidget> guard(w);
  if (handler_) handler_(w);
  else acceptDefault(w);
  (void)guard;
}

void pumpFor(int ms) {
  QDeadlineTimer dl(ms);
  while (!dl.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool pumpUntil(const std::function<bool()>& pred, int ms) {
  QDeadlineTimer dl(ms);
  while (!pred()) {
    if (dl.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

}  // namespace testsupport
