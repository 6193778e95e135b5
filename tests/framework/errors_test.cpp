// StrToInt's rules and the application's top-level error handler.
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "framework/application.h"
#include "framework/errors.h"
#include "framework/timer.h"
#include "support/modal.h"

using framework::StrToInt;
using testsupport::ModalWatcher;
using testsupport::pumpUntil;

TEST(StrToInt, AcceptsDecimalHexSignsAndLeadingBlanks) {
  EXPECT_EQ(StrToInt("12"), 12);
  EXPECT_EQ(StrToInt("  7"), 7);
  EXPECT_EQ(StrToInt("+5"), 5);
  EXPECT_EQ(StrToInt("-7"), -7);
  EXPECT_EQ(StrToInt("007"), 7);
  EXPECT_EQ(StrToInt("$1F"), 31);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("0XfF"), 255);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
}

TEST(StrToInt, RejectsAnythingElseWithTheFrameworkMessage) {
  for (const char* bad : {"", " ", "-", "$", "0x", "12 ", "1.5", "1e3", "abc", "2147483648", "-2147483649",
                          "$100000000", "\t3", "3a", "--3"}) {
    try {
      StrToInt(QString::fromLatin1(bad));
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const platform::EConvertError& e) {
      EXPECT_EQ(e.message(), QStringLiteral("'%1' is not a valid integer value").arg(QLatin1String(bad)));
    }
  }
  bool ok = true;
  EXPECT_EQ(framework::StrToIntDef("x", 42, &ok), 42);
  EXPECT_FALSE(ok);
}

// An exception escaping a handler shows its message in an error box, and
// the program goes on: the same handler runs again on the next event.
TEST(TopLevelHandler, ExceptionFromButtonClickIsShownAndProgramGoesOn) {
  ModalWatcher watcher;
  QPushButton button(QStringLiteral("Go"));
  button.show();
  int clicks = 0;
  QObject::connect(&button, &QPushButton::clicked, [&] {
    ++clicks;
    throw platform::EConvertError(QStringLiteral("'x' is not a valid integer value"));
  });
  const int before = framework::handledExceptionCount();
  QTest::mouseClick(&button, Qt::LeftButton);
  ASSERT_TRUE(pumpUntil([&] { return watcher.seen().size() == 1; }, 3000));
  EXPECT_EQ(watcher.seen()[0].objectName, QStringLiteral("ErrorBox"));
  EXPECT_EQ(watcher.seen()[0].text, QStringLiteral("'x' is not a valid integer value"));
  EXPECT_EQ(watcher.seen()[0].title, framework::Application::title());
  QTest::mouseClick(&button, Qt::LeftButton);
  ASSERT_TRUE(pumpUntil([&] { return watcher.seen().size() == 2; }, 3000));
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(framework::handledExceptionCount(), before + 2);
}

TEST(TopLevelHandler, ExceptionFromTimerTickIsShownAndTimerKeepsTicking) {
  ModalWatcher watcher;
  framework::Timer timer(nullptr, QStringLiteral("T"), 30, true);
  int ticks = 0;
  timer.OnTimer = [&] {
    ++ticks;
    if (ticks <= 2) throw std::runtime_error("tick failed");
  };
  ASSERT_TRUE(pumpUntil([&] { return ticks >= 4; }, 5000));
  timer.setEnabled(false);
  ASSERT_TRUE(pumpUntil([&] { return watcher.seen().size() >= 2; }, 3000));
  EXPECT_EQ(watcher.seen()[0].text, QStringLiteral("tick failed"));
  EXPECT_EQ(watcher.seen()[1].text, QStringLiteral("tick failed"));
}

TEST(TopLevelHandler, ExceptionFromQueuedCallIsShown) {
  ModalWatcher watcher;
  QObject context;
  QMetaObject::invokeMethod(&context, [] { throw platform::EInOutError(QStringLiteral("Unable to write to x.ini")); },
                            Qt::QueuedConnection);
  ASSERT_TRUE(pumpUntil([&] { return !watcher.seen().empty(); }, 3000));
  EXPECT_EQ(watcher.seen()[0].text, QStringLiteral("Unable to write to x.ini"));
}
