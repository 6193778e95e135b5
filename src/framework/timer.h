#pragma once
#include <QObject>
#include <QTimer>
#include <functional>

namespace forms {

// A timer with the form framework's rules: it ticks while Enabled and the
// interval is above 0 (interval 0 never ticks); assigning a different
// interval restarts a running timer. Ticks are scheduled precisely, so a
// timer asked for 33 ms ticks every 33 ms on average, not every 32.
class Timer : public QObject {
  Q_OBJECT
 public:
  Timer(QObject* parent, const QString& name, int intervalMs, bool enabled);

  bool Enabled() const { return enabled_; }
  void setEnabled(bool on);
  int Interval() const { return interval_; }
  void setInterval(int ms);
  bool isTicking() const { return timer_.isActive(); }

  std::function<void()> OnTimer;

 private:
  void update();
  QTimer timer_;
  bool enabled_;
  int interval_;
};

}  // namespace forms
