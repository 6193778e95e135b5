// With the interface scaled by 2 the frame's bounds are device pixels, and
// the grab records exactly the rectangle the frame covered on the screen.
#include <gtest/gtest.h>

#include <QPushButton>
#include <cstdlib>

#include "app/forms.h"
#include "app/main.h"
#include "framework/image.h"
#include "platform/window/display.h"
#include "support/modal.h"
#include "target/mirror.h"
#include "target/targetsupport.h"
#include "target/winorarea.h"
#include "window/xtest.h"

using namespace targettest;

TEST(ScaledInterface, RecordsTheRectangleTheFrameCovered) {
  Forms f;
  ASSERT_DOUBLE_EQ(Form4->devicePixelRatioF(), 2.0);
  xtest::PatternWindow pattern(wnd::Display::instance(), 200, 100, 600, 500);
  Form2->show();
  Form2->Button1->click();
  forms::setOuterBounds(Form4, {260, 180, 300, 240});
  testsupport::pumpUntil([] { return Form4->isVisible() && frameOnServer().width() > 0; }, 3000);
  testsupport::pumpFor(500);
  const wnd::RECT covered = frameOnServer();
  EXPECT_EQ(toRect(forms::outerBounds(Form4)), covered);
  // The client area moves in steps of 2 device pixels, and openbox's
  // one-pixel border puts it at an odd place: within a pixel of the ask.
  EXPECT_LE(std::abs(covered.left - 260), 1);
  EXPECT_LE(std::abs(covered.top - 180), 1);
  EXPECT_LE(std::abs(covered.width() - 300), 1);
  EXPECT_LE(std::abs(covered.height() - 240), 1);

  clickX();
  ASSERT_TRUE(waitForGrab());
  const gdi::Bitmap pic = Form1->Image1->picture();
  ASSERT_EQ(pic.width(), covered.width());
  ASSERT_EQ(pic.height(), covered.height());
  EXPECT_EQ(patternMismatches(pic, covered, 200, 100), 0);
}
