#pragma once
#include <QObject>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>

namespace framework {

// A timer with the form framework's rules: it ticks while Enabled and the
// interval is above 0 (interval 0 never ticks); assigning a different
// interval restarts a running timer. Ticks keep to a fixed schedule (start
// + n x interval) rather than "interval after the last tick": a timer asked
// for 33 ms ticks every 33 ms on average, and a tick delayed by a slow
// handler is made up at once instead of being lost, so a recording keeps
// its frame count. Only when the program has been held up for more than a
// second (a modal box, a stalled disk) does the schedule start afresh.
class Timer : public QObject {
  Q_OBJECT
 public:
  Timer(QObject* parent, const QString& name, int intervalMs, bool enabled);

  bool Enabled() const { return enabled_; }
  void setEnabled(bool on);
  int Interval() const { return interval_; }
  void setInterval(int ms);
  bool isTicking() const { return timer_.isActive(); }
  // Ticks given up because the program was held up beyond the catch-up
  // window, since the timer was made.
  quint64 lostTicks() const { return lost_; }

  std::function<void()> OnTimer;

 private:
  void update();
  void arm();
  void fire();
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 next_ = 0;  // when the next tick is due, on clock_
  unsigned generation_ = 0;  // counts restarts, so a tick knows its handler restarted it
  quint64 lost_ = 0;
  bool enabled_;
  int interval_;
};

}  // namespace framework
