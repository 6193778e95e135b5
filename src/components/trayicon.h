#pragma once
// The notification-area icon component.
#include <QIcon>
#include <QObject>
#include <functional>

class TTrayIcon : public QObject {
  Q_OBJECT
 public:
  TTrayIcon(QObject* owner, const QString& name);
  ~TTrayIcon() override;

  bool Active() const { return active_; }
  void setActive(bool on);
  const QIcon& Icon() const { return icon_; }
  void setIcon(const QIcon& icon);

  std::function<void(QObject*)> OnClick;
  std::function<void(QObject*)> OnDblClick;

 private:
  bool active_ = false;
  QIcon icon_;
  class QSystemTrayIcon* tray_ = nullptr;
};
