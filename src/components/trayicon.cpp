#include "components/trayicon.h"

#include <QSystemTrayIcon>

TTrayIcon::TTrayIcon(QObject* owner, const QString& name) : QObject(owner) { setObjectName(name); }

TTrayIcon::~TTrayIcon() { delete tray_; }

void TTrayIcon::setActive(bool on) {
  if (on == active_) return;
  active_ = on;
  if (on) {
    if (!tray_) {
      tray_ = new QSystemTrayIcon(icon_);
      connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger && OnClick) OnClick(this);
        if (r == QSystemTrayIcon::DoubleClick && OnDblClick) OnDblClick(this);
      });
    }
    tray_->show();
  } else if (tray_) {
    tray_->hide();
  }
}

void TTrayIcon::setIcon(const QIcon& icon) {
  icon_ = icon;
  if (tray_) tray_->setIcon(icon);
}
