// The window-or-area dialog and the capture frame as they are created and
// as the dialog's buttons leave them.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "support/programwindows.h"
#include "app/mainwindow.h"
#include "framework/timer.h"
#include "support/modal.h"
#include "target/captureframe.h"
#include "target/targetsupport.h"
#include "target/remotecontrol.h"
#include "target/capturemodedialog.h"

using namespace targettest;

TEST(TargetDialog, CreatedWithTheProgramsTexts) {
  Forms f;
  EXPECT_EQ(captureModeDialog()->windowTitle(), "Type recording ?");
  EXPECT_EQ(testsupport::control<QRadioButton>(captureModeDialog(), "RadioButton1")->text(), "Window    i.e. Applicaions");
  EXPECT_EQ(testsupport::control<QRadioButton>(captureModeDialog(), "RadioButton2")->text(), "Area          i.e. WebCam");
  EXPECT_FALSE(testsupport::control<QRadioButton>(captureModeDialog(), "RadioButton1")->isChecked());
  EXPECT_TRUE(testsupport::control<QRadioButton>(captureModeDialog(), "RadioButton2")->isChecked());
  EXPECT_TRUE(captureModeDialog()->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(testsupport::control(captureModeDialog(), "Button1")->text(), "OK");
  EXPECT_EQ(testsupport::control(captureModeDialog(), "Button3")->text(), "Cancel");
  EXPECT_EQ(testsupport::control(captureModeDialog(), "Button2")->text(), "Help");

  EXPECT_EQ(captureFrame()->windowTitle(), "Click on X");
  EXPECT_TRUE(captureFrame()->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(captureFrame()->isVisible());
  const QStringList lines = testsupport::control<QPlainTextEdit>(captureFrame(), "Memo2")->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 8);
  EXPECT_EQ(lines[0], "To record an application like netmeeting, click ");
  EXPECT_EQ(lines[2], "second this window will cover the program, ");
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[7], "and click on the X.");
  EXPECT_EQ(testsupport::control<QPlainTextEdit>(captureFrame(), "Memo1")->toPlainText(), testsupport::control<QPlainTextEdit>(captureFrame(), "Memo2")->toPlainText());
  EXPECT_EQ(testsupport::control<QLabel>(captureFrame(), "Label3")->text(), "X");
  EXPECT_EQ(testsupport::control<QLabel>(captureFrame(), "Label3")->font().pixelSize(), 19);
  EXPECT_EQ(framework::outerBounds(captureFrame()), (framework::Bounds{-2, 0, 255, 253}));
  EXPECT_FALSE(captureFrame()->followTimer()->Enabled());
  EXPECT_EQ(captureFrame()->followTimer()->Interval(), 3000);
}

// The creation bounds are outer bounds: once openbox has framed the frame
// they hold on the server, and showing it takes no focus from the user.
TEST(TargetDialog, AreaOkShowsTheFrameAtItsCreationBounds) {
  Forms f;
  XTerm user("kestrel-user", "30x5+500+400");
  ASSERT_TRUE(activate(user.id));
  captureModeDialog()->show();
  testsupport::control(captureModeDialog(), "Button1")->click();
  EXPECT_TRUE(captureFrame()->isVisible());
  EXPECT_FALSE(captureModeDialog()->isVisible());
  EXPECT_EQ(captureFrame()->windowTitle(), "Click on the X");
  EXPECT_FALSE(captureFrame()->followTimer()->Enabled());
  EXPECT_TRUE(waitFrameAt({-2, 0, 253, 253})) << frameOnServer().left << "," << frameOnServer().top << " "
                                              << frameOnServer().width() << "x" << frameOnServer().height();
  EXPECT_NE(wnd::GetFrameExtents(static_cast<wnd::HWND>(captureFrame()->winId())), std::nullopt);
  // The dialog, hidden, is no foreground window; the user clicks their
  // window, and raising the frame again does not take the focus from it.
  EXPECT_NE(wnd::GetForegroundWindow(), captureModeDialog()->winId());
  ASSERT_TRUE(activate(user.id));
  captureFrame()->showOnTop();
  testsupport::pumpFor(300);
  EXPECT_EQ(wnd::GetForegroundWindow(), user.id)
      << "Form1 " << mainWindow()->winId() << " Form2 " << captureModeDialog()->winId() << " Form4 " << captureFrame()->winId() << " Form8 "
      << remoteControl()->winId();
}

TEST(TargetDialog, HelpCancelAndNoModeChosen) {
  Forms f;
  {
    testsupport::ModalWatcher boxes;
    testsupport::control(captureModeDialog(), "Button2")->click();
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text,
              "1. Window  If you wish to record a Video Conferencing Program Video Window then you might tru Window.\r\n"
              "2. Area  If you wish to just record an area, example a WebCam Then click on \"area\"");
  }

  // With both buttons cleared (only a program can do that) OK does nothing.
  captureModeDialog()->show();
  testsupport::control<QRadioButton>(captureModeDialog(), "RadioButton2")->setAutoExclusive(false);
  testsupport::control<QRadioButton>(captureModeDialog(), "RadioButton2")->setChecked(false);
  testsupport::control(captureModeDialog(), "Button1")->click();
  EXPECT_TRUE(captureModeDialog()->isVisible());
  EXPECT_FALSE(captureFrame()->isVisible());
  EXPECT_FALSE(captureFrame()->followTimer()->Enabled());
  testsupport::control<QRadioButton>(captureModeDialog(), "RadioButton2")->setChecked(true);
  testsupport::control<QRadioButton>(captureModeDialog(), "RadioButton2")->setAutoExclusive(true);

  // Cancel runs the main window's Cancel (which stops a running preview)
  // and hides the dialog; it leaves the following alone.
  session().startPreview();
  captureFrame()->followTimer()->setEnabled(true);
  testsupport::ModalWatcher any;
  testsupport::control(captureModeDialog(), "Button3")->click();
  EXPECT_FALSE(captureModeDialog()->isVisible());
  EXPECT_FALSE(session().previewing());
  EXPECT_TRUE(captureFrame()->followTimer()->Enabled());
  EXPECT_FALSE(mainWindow()->isVisible());
}
