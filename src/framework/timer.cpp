#include "framework/timer.h"

#include <algorithm>

namespace framework {

Timer::Timer(QObject* parent, const QString& name, int intervalMs, bool enabled)
    : QObject(parent), enabled_(enabled), interval_(intervalMs) {
  setObjectName(name);
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { fire(); });
  clock_.start();
  update();
}

void Timer::setEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  update();
}

void Timer::setInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  update();
}

namespace {
// How far behind the schedule a timer may fall and still make up its ticks.
constexpr qint64 kMaxCatchUpMs = 1000;
}  // namespace

void Timer::update() {
  ++generation_;
  timer_.stop();
  if (enabled_ && interval_ > 0) {
    next_ = clock_.elapsed() + interval_;
    arm();
  }
}

void Timer::arm() { timer_.start(int(std::max<qint64>(0, next_ - clock_.elapsed()))); }

void Timer::fire() {
  // The next tick is armed only when the handler has returned: a handler
  // that pumps messages must not be entered again by its own timer, and a
  // tick that falls due meanwhile is made up right after it instead of
  // being swallowed by the running handler's guards.
  // A handler that throws still gets its next tick: the error box of the
  // top-level handler shows while the timer goes on.
  struct Rearm {
    Timer* t;
    unsigned generation;
    ~Rearm() {
      if (generation != t->generation_) return;  // the handler changed the timer; update() rearmed it
      t->next_ += t->interval_;
      const qint64 now = t->clock_.elapsed();
      if (now - t->next_ > std::max<qint64>(kMaxCatchUpMs, t->interval_)) {
        // The ticks between the old schedule and now are given up.
        t->lost_ += quint64((now - t->next_) / t->interval_ + 1);
        t->next_ = now + t->interval_;
      }
      t->arm();
    }
  } rearm{this, generation_};
  if (OnTimer) OnTimer();
}
}  // namespace framework
