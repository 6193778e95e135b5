// The framework timer's rules. Intervals are generous so a loaded machine
// (or a sanitizer build) cannot turn a late tick into a false failure.
#include <gtest/gtest.h>

#include <QThread>

#include "framework/timer.h"
#include "support/modal.h"

using testsupport::pumpFor;
using testsupport::pumpUntil;

namespace {

struct Counted {
  framework::Timer timer;
  int ticks = 0;
  Counted(int interval, bool enabled) : timer(nullptr, QStringLiteral("T"), interval, enabled) {
    timer.OnTimer = [this] { ++ticks; };
  }
};

}  // namespace

TEST(Timer, IntervalZeroNeverTicksAndEnablingLaterStartsIt) {
  Counted c(0, true);
  EXPECT_FALSE(c.timer.isTicking());
  pumpFor(150);
  EXPECT_EQ(c.ticks, 0);
  c.timer.setInterval(20);
  EXPECT_TRUE(pumpUntil([&] { return c.ticks >= 2; }, 2000));
  c.timer.setInterval(0);
  const int seen = c.ticks;
  pumpFor(120);
  EXPECT_EQ(c.ticks, seen);
  EXPECT_EQ(c.timer.Interval(), 0);
  EXPECT_TRUE(c.timer.Enabled());
}

TEST(Timer, DisabledNeverTicksAndEnableStarts) {
  Counted c(20, false);
  pumpFor(120);
  EXPECT_EQ(c.ticks, 0);
  c.timer.setEnabled(true);
  EXPECT_TRUE(pumpUntil([&] { return c.ticks >= 1; }, 2000));
  c.timer.setEnabled(false);
  const int seen = c.ticks;
  pumpFor(120);
  EXPECT_EQ(c.ticks, seen);
}

TEST(Timer, NewIntervalRestartsRunningTimerSameIntervalDoesNot) {
  // Same interval assigned mid-way: the tick still comes on the old schedule.
  {
    Counted c(600, true);
    pumpFor(350);
    c.timer.setInterval(600);
    EXPECT_TRUE(pumpUntil([&] { return c.ticks == 1; }, 500)) << "same interval must not restart";
  }
  // A different interval mid-way: counting starts again from the assignment.
  {
    Counted c(600, true);
    pumpFor(350);
    c.timer.setInterval(601);
    pumpFor(400);  // past the old schedule's first tick (at 600 ms)
    EXPECT_EQ(c.ticks, 0) << "a new interval restarts the timer";
    EXPECT_TRUE(pumpUntil([&] { return c.ticks == 1; }, 1500));
  }
}

TEST(Timer, DisableInsideItsOwnTickStopsIt) {
  // The one-shot start-up timer's pattern: the first tick disables it.
  Counted c(10, true);
  c.timer.OnTimer = [&] {
    ++c.ticks;
    c.timer.setEnabled(false);
  };
  pumpFor(200);
  EXPECT_EQ(c.ticks, 1);
}

// A hold-up within the catch-up window loses no tick; one beyond it starts
// the schedule afresh, and the ticks given up are counted.
TEST(Timer, TicksGivenUpBeyondTheCatchUpWindowAreCounted) {
  QObject owner;
  framework::Timer t(&owner, QStringLiteral("t"), 50, false);
  int ticks = 0;
  int holdMs = 0;
  t.OnTimer = [&] {
    ++ticks;
    if (holdMs > 0) {
      QThread::msleep(static_cast<unsigned long>(holdMs));
      holdMs = 0;
    }
  };
  holdMs = 400;  // within the window: made up at once
  t.setEnabled(true);
  pumpFor(1000);
  EXPECT_EQ(t.lostTicks(), 0u);
  holdMs = 1600;  // beyond it: about 30 ticks given up
  pumpFor(2000);
  EXPECT_GE(t.lostTicks(), 25u);
  EXPECT_LE(t.lostTicks(), 40u);
  t.setEnabled(false);
  EXPECT_GT(ticks, 20);
}
