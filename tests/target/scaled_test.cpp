// With the interface scaled by 2 the frame's bounds are device pixels, and
// the grab records exactly the rectangle the frame covered on the screen.
#include <gtest/gtest.h>

#include <QPushButton>
#include <cstdlib>

#include "support/programwindows.h"
#include "app/mainwindow.h"
#include "framework/image.h"
#include "platform/window/display.h"
#include "support/modal.h"
#include "target/captureframe.h"
#include "target/targetsupport.h"
#include "target/capturemodedialog.h"
#include "platform/window/xtest.h"

using namespace targettest;

TEST(ScaledInterface, RecordsTheRectangleTheFrameCovered) {
  Forms f;
  ASSERT_DOUBLE_EQ(captureFrame()->devicePixelRatioF(), 2.0);
  xtest::PatternWindow pattern(wnd::Display::instance(), 200, 100, 600, 500);
  captureModeDialog()->show();
  testsupport::control(captureModeDialog(), "Button1")->click();
  framework::setOuterBounds(captureFrame(), {260, 180, 300, 240});
  testsupport::pumpUntil([] { return captureFrame()->isVisible() && frameOnServer().width() > 0; }, 3000);
  testsupport::pumpFor(500);
  const wnd::RECT covered = frameOnServer();
  EXPECT_EQ(toRect(framework::outerBounds(captureFrame())), covered);
  // The client area moves in steps of 2 device pixels, and openbox's
  // one-pixel border puts it at an odd place: within a pixel of the ask.
  EXPECT_LE(std::abs(covered.left - 260), 1);
  EXPECT_LE(std::abs(covered.top - 180), 1);
  EXPECT_LE(std::abs(covered.width() - 300), 1);
  EXPECT_LE(std::abs(covered.height() - 240), 1);

  clickX();
  ASSERT_TRUE(waitForGrab());
  const gdi::Bitmap pic = mainWindow()->preview()->picture();
  ASSERT_EQ(pic.width(), covered.width());
  ASSERT_EQ(pic.height(), covered.height());
  EXPECT_EQ(patternMismatches(pic, covered, 200, 100), 0);
}
