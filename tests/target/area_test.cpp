// Area mode: the user places the frame, clicks its "X", and every grab
// shows exactly the screen under the hidden frame.
#include <gtest/gtest.h>

#include <QAction>
#include <QRadioButton>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <vector>

#include "support/programwindows.h"
#include "app/mainwindow.h"
#include "framework/image.h"
#include "framework/timer.h"
#include "platform/window/display.h"
#include "support/modal.h"
#include "target/captureframe.h"
#include "target/targetsupport.h"
#include "target/capturemodedialog.h"
#include "platform/window/xtest.h"

using namespace targettest;

TEST(AreaMode, MovedAndSizedFrameRecordsTheScreenUnderIt) {
  Forms f;
  xtest::PatternWindow pattern(wnd::Display::instance(), 300, 200, 420, 330);
  captureModeDialog()->show();
  testsupport::control(captureModeDialog(), "Button1")->click();
  const wnd::RECT r{340, 230, 340 + 201, 230 + 157};
  framework::setOuterBounds(captureFrame(), {r.left, r.top, r.width(), r.height()});
  ASSERT_TRUE(waitFrameAt(r));

  clickX();
  EXPECT_FALSE(captureFrame()->isVisible());
  EXPECT_FALSE(captureFrame()->followTimer()->Enabled());
  EXPECT_TRUE(session().previewing());
  EXPECT_TRUE(testsupport::control(mainWindow(), "Button4")->isEnabled());  // setuptorecord ran
  EXPECT_FALSE(mainWindow()->isVisible());          // the remote control is on
  ASSERT_TRUE(waitForGrab());

  const gdi::Bitmap pic = mainWindow()->preview()->picture();
  ASSERT_EQ(pic.width(), r.width());
  ASSERT_EQ(pic.height(), r.height());
  EXPECT_EQ(pic.format(), wnd::Display::instance().pixelFormat());
  EXPECT_EQ(patternMismatches(pic, r, 300, 200), 0);
  // The bounds are the capture rectangle from now on.
  EXPECT_EQ(toRect(framework::outerBounds(captureFrame())), r);
}

// A fresh run's frame, untouched: 255 x 253 from (-2, 0), two black
// columns where the rectangle leaves the screen. With the remote control
// "Off" the "X" brings the main window back.
TEST(AreaMode, UntouchedFrameFromMinusTwo) {
  Forms f;
  xtest::PatternWindow pattern(wnd::Display::instance(), 0, 0, 300, 300);
  testsupport::menuItem("Off1")->trigger();
  mainWindow()->move(600, 500);  // shown by the "X": away from the rectangle
  captureModeDialog()->show();
  testsupport::control(captureModeDialog(), "Button1")->click();
  ASSERT_TRUE(waitFrameAt({-2, 0, 253, 253}));
  clickX();
  EXPECT_TRUE(mainWindow()->isVisible());
  ASSERT_TRUE(waitForGrab());
  const gdi::Bitmap pic = mainWindow()->preview()->picture();
  ASSERT_EQ(pic.width(), 255);
  ASSERT_EQ(pic.height(), 253);
  EXPECT_EQ(patternMismatches(pic, {-2, 0, 253, 253}, 0, 0), 0);
}

// A Window-mode use leaves the frame without its sizing border; Area mode
// gives it back, since sizing the frame is what Area mode is for.
TEST(AreaMode, GetsTheSizingBorderBackAfterWindowMode) {
  Forms f;
  testsupport::control<QRadioButton>(captureModeDialog(), "RadioButton1")->setChecked(true);
  captureModeDialog()->show();
  testsupport::control(captureModeDialog(), "Button1")->click();
  EXPECT_EQ(captureFrame()->windowTitle(), "Click the the application to record");
  EXPECT_EQ(captureFrame()->frameStyle(), target::CaptureFrame::FrameStyle::ToolWindow);
  EXPECT_EQ(captureFrame()->minimumSize(), captureFrame()->maximumSize());
  clickX();

  testsupport::control<QRadioButton>(captureModeDialog(), "RadioButton2")->setChecked(true);
  captureModeDialog()->show();
  testsupport::control(captureModeDialog(), "Button1")->click();
  EXPECT_EQ(captureFrame()->frameStyle(), target::CaptureFrame::FrameStyle::Sizeable);
  EXPECT_NE(captureFrame()->minimumSize(), captureFrame()->maximumSize());
  EXPECT_TRUE(captureFrame()->isVisible());
  EXPECT_EQ(captureFrame()->windowTitle(), "Click on the X");
}

// A grab the screen cannot give (a rectangle wider than X allows) is
// reported in the framework's error box and does not stack a new box at
// every grab while the first is still open; nothing reaches the preview.
TEST(AreaMode, FailedGrabIsReportedOnce) {
  Forms f;
  std::vector<QPointer<QWidget>> open;
  testsupport::ModalWatcher boxes([&](QWidget* w) {
    open.emplace_back(w);
    // A person reads the message for a second before pressing OK.
    QTimer::singleShot(1000, w, [w] { testsupport::ModalWatcher::acceptDefault(w); });
  });
  session().fixTarget({0, 0, 70000, 50});
  testsupport::pumpFor(900);
  ASSERT_EQ(boxes.seen().size(), 1u);
  EXPECT_EQ(boxes.seen()[0].objectName, "ErrorBox");
  EXPECT_NE(boxes.seen()[0].text.indexOf("too large"), -1) << boxes.seen()[0].text.toStdString();
  EXPECT_EQ(session().grabCount(), 0u);
  session().stopPreview();
  testsupport::pumpFor(1500);
  EXPECT_TRUE(mainWindow()->preview()->picture().empty());
}
