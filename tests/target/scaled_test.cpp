// With the interface scaled by 2 the frame's bounds are device pixels, and
// the grab records exactly the rectangle the frame covered on the screen.
#include <gtest/gtest.h>

#include <QPushButton>

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
  // Even sizes and positions are exact at a factor of 2.
  EXPECT_EQ(covered, (wnd::RECT{260, 180, 560, 420}));

  clickX();
  ASSERT_TRUE(waitForGrab());
  const gdi::Bitmap pic = Form1->Image1->picture();
  ASSERT_EQ(pic.width(), covered.width());
  ASSERT_EQ(pic.height(), covered.height());
  EXPECT_EQ(patternMismatches(pic, covered, 200, 100), 0);
}
