// Area mode: the user places the frame, clicks its "X", and every grab
// shows exactly the screen under the hidden frame.
#include <gtest/gtest.h>

#include <QAction>
#include <QRadioButton>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <vector>

#include "app/forms.h"
#include "app/main.h"
#include "framework/image.h"
#include "framework/timer.h"
#include "platform/window/display.h"
#include "support/modal.h"
#include "target/mirror.h"
#include "target/targetsupport.h"
#include "target/winorarea.h"
#include "window/xtest.h"

using namespace targettest;

TEST(AreaMode, MovedAndSizedFrameRecordsTheScreenUnderIt) {
  Forms f;
  xtest::PatternWindow pattern(wnd::Display::instance(), 300, 200, 420, 330);
  Form2->show();
  Form2->Button1->click();
  const wnd::RECT r{340, 230, 340 + 201, 230 + 157};
  forms::setOuterBounds(Form4, {r.left, r.top, r.width(), r.height()});
  ASSERT_TRUE(waitFrameAt(r));

  clickX();
  EXPECT_FALSE(Form4->isVisible());
  EXPECT_FALSE(Form1->WindowMirror->Enabled());
  EXPECT_TRUE(Form1->getpic->Enabled());
  EXPECT_TRUE(Form1->Button4->isEnabled());  // setuptorecord ran
  EXPECT_FALSE(Form1->isVisible());          // the remote control is on
  ASSERT_TRUE(waitForGrab());

  const gdi::Bitmap pic = Form1->Image1->picture();
  ASSERT_EQ(pic.width(), r.width());
  ASSERT_EQ(pic.height(), r.height());
  EXPECT_EQ(pic.format(), wnd::Display::instance().pixelFormat());
  EXPECT_EQ(patternMismatches(pic, r, 300, 200), 0);
  // The bounds are the capture rectangle from now on.
  EXPECT_EQ(toRect(forms::outerBounds(Form4)), r);
}

// A fresh run's frame, untouched: 255 x 253 from (-2, 0), two black
// columns where the rectangle leaves the screen. With the remote control
// "Off" the "X" brings the main window back.
TEST(AreaMode, UntouchedFrameFromMinusTwo) {
  Forms f;
  xtest::PatternWindow pattern(wnd::Display::instance(), 0, 0, 300, 300);
  Form1->Off1Click();
  Form1->move(600, 500);  // shown by the "X": away from the rectangle
  Form2->show();
  Form2->Button1->click();
  ASSERT_TRUE(waitFrameAt({-2, 0, 253, 253}));
  clickX();
  EXPECT_TRUE(Form1->isVisible());
  ASSERT_TRUE(waitForGrab());
  const gdi::Bitmap pic = Form1->Image1->picture();
  ASSERT_EQ(pic.width(), 255);
  ASSERT_EQ(pic.height(), 253);
  EXPECT_EQ(patternMismatches(pic, {-2, 0, 253, 253}, 0, 0), 0);
}

// A Window-mode use leaves the frame without its sizing border; Area mode
// gives it back, since sizing the frame is what Area mode is for.
TEST(AreaMode, GetsTheSizingBorderBackAfterWindowMode) {
  Forms f;
  Form2->RadioButton1->setChecked(true);
  Form2->show();
  Form2->Button1->click();
  EXPECT_EQ(Form4->windowTitle(), "Click the the application to record");
  EXPECT_EQ(Form4->frameStyle(), TForm4::FrameStyle::ToolWindow);
  EXPECT_EQ(Form4->minimumSize(), Form4->maximumSize());
  clickX();

  Form2->RadioButton2->setChecked(true);
  Form2->show();
  Form2->Button1->click();
  EXPECT_EQ(Form4->frameStyle(), TForm4::FrameStyle::Sizeable);
  EXPECT_NE(Form4->minimumSize(), Form4->maximumSize());
  EXPECT_TRUE(Form4->isVisible());
  EXPECT_EQ(Form4->windowTitle(), "Click on the X");
}

// A grab the screen cannot give (a rectangle wider than X allows) is
// reported in the framework's error box, leaves the gate busy so no frame
// is written, and does not stack a new box at every tick while the first
// is still open.
TEST(AreaMode, FailedGrabIsReportedOnceAndKeepsTheGateBusy) {
  Forms f;
  Form4->setGeometry(0, 0, 70000, 50);
  Form1->frameGate = 1;
  std::vector<QPointer<QWidget>> open;
  testsupport::ModalWatcher boxes([&](QWidget* w) {
    open.emplace_back(w);
    // A person reads the message for a second before pressing OK.
    QTimer::singleShot(1000, w, [w] { testsupport::ModalWatcher::acceptDefault(w); });
  });
  Form1->getpic->setEnabled(true);
  testsupport::pumpFor(900);
  ASSERT_EQ(boxes.seen().size(), 1u);
  EXPECT_EQ(boxes.seen()[0].objectName, "ErrorBox");
  EXPECT_NE(boxes.seen()[0].text.indexOf("too large"), -1) << boxes.seen()[0].text.toStdString();
  EXPECT_EQ(Form1->frameGate, 2);
  Form1->getpic->setEnabled(false);
  testsupport::pumpFor(1500);
  EXPECT_TRUE(Form1->Image1->picture().empty());
}
