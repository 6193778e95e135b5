// The status bar's one line of text, and when its label takes it.
#include <QLabel>
#include <QWidget>
#include <gtest/gtest.h>

#include "framework/statusbar.h"

// While its window is hidden (as the main window is during a recording)
// the bar keeps only the newest text; shown, the label says just that.
TEST(StatusBar, AHiddenBarShowsTheNewestTextWhenShown) {
  QWidget window;
  auto* bar = new framework::StatusBar(&window, QStringLiteral("StatusBar1"));
  auto* label = bar->findChild<QLabel*>(QStringLiteral("StatusBar1Text"));
  ASSERT_NE(label, nullptr);

  bar->setSimpleText(QStringLiteral("Writing Frame #1"));
  bar->setSimpleText(QStringLiteral("Writing Frame #2"));
  EXPECT_EQ(bar->SimpleText(), QStringLiteral("Writing Frame #2"));

  window.show();
  EXPECT_EQ(label->text(), QStringLiteral("Writing Frame #2"));
  bar->setSimpleText(QStringLiteral("AVI Completed"));
  EXPECT_EQ(label->text(), QStringLiteral("AVI Completed"));

  window.hide();
  bar->setSimpleText(QString());
  window.show();
  EXPECT_TRUE(label->text().isEmpty());
}
