// The window-or-area dialog and the capture frame as they are created and
// as the dialog's buttons leave them.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/forms.h"
#include "app/main.h"
#include "framework/timer.h"
#include "support/modal.h"
#include "target/mirror.h"
#include "target/targetsupport.h"
#include "target/unit8.h"
#include "target/winorarea.h"

using namespace targettest;

TEST(TargetDialog, CreatedWithTheProgramsTexts) {
  Forms f;
  EXPECT_EQ(Form2->windowTitle(), "Type recording ?");
  EXPECT_EQ(Form2->RadioButton1->text(), "Window    i.e. Applicaions");
  EXPECT_EQ(Form2->RadioButton2->text(), "Area          i.e. WebCam");
  EXPECT_FALSE(Form2->RadioButton1->isChecked());
  EXPECT_TRUE(Form2->RadioButton2->isChecked());
  EXPECT_TRUE(Form2->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(Form2->Button1->text(), "OK");
  EXPECT_EQ(Form2->Button3->text(), "Cancel");
  EXPECT_EQ(Form2->Button2->text(), "Help");

  EXPECT_EQ(Form4->windowTitle(), "Click on X");
  EXPECT_TRUE(Form4->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(Form4->isVisible());
  const QStringList lines = Form4->Memo2->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 8);
  EXPECT_EQ(lines[0], "To record an application like netmeeting, click ");
  EXPECT_EQ(lines[2], "second this window will cover the program, ");
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[7], "and click on the X.");
  EXPECT_EQ(Form4->Memo1->toPlainText(), Form4->Memo2->toPlainText());
  EXPECT_EQ(Form4->Label3->text(), "X");
  EXPECT_EQ(Form4->Label3->font().pixelSize(), 19);
  EXPECT_EQ(forms::outerBounds(Form4), (forms::Bounds{-2, 0, 255, 253}));
  EXPECT_FALSE(Form1->WindowMirror->Enabled());
  EXPECT_EQ(Form1->WindowMirror->Interval(), 3000);
}

// The creation bounds are outer bounds: once openbox has framed the frame
// they hold on the server, and showing it takes no focus from the user.
TEST(TargetDialog, AreaOkShowsTheFrameAtItsCreationBounds) {
  Forms f;
  XTerm user("kestrel-user", "30x5+500+400");
  ASSERT_TRUE(activate(user.id));
  Form2->show();
  Form2->Button1->click();
  EXPECT_TRUE(Form4->isVisible());
  EXPECT_FALSE(Form2->isVisible());
  EXPECT_EQ(Form4->windowTitle(), "Click on the X");
  EXPECT_FALSE(Form1->WindowMirror->Enabled());
  EXPECT_TRUE(waitFrameAt({-2, 0, 253, 253})) << frameOnServer().left << "," << frameOnServer().top << " "
                                              << frameOnServer().width() << "x" << frameOnServer().height();
  EXPECT_NE(wnd::GetFrameExtents(static_cast<wnd::HWND>(Form4->winId())), std::nullopt);
  // The dialog, hidden, is no foreground window; the user clicks their
  // window, and raising the frame again does not take the focus from it.
  EXPECT_NE(wnd::GetForegroundWindow(), Form2->winId());
  ASSERT_TRUE(activate(user.id));
  Form4->showOnTop();
  testsupport::pumpFor(300);
  EXPECT_EQ(wnd::GetForegroundWindow(), user.id)
      << "Form1 " << Form1->winId() << " Form2 " << Form2->winId() << " Form4 " << Form4->winId() << " Form8 "
      << Form8->winId();
}

TEST(TargetDialog, HelpCancelAndNoModeChosen) {
  Forms f;
  {
    testsupport::ModalWatcher boxes;
    Form2->Button2->click();
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text,
              "1. Window  If you wish to record a Video Conferencing Program Video Window then you might tru Window.\r\n"
              "2. Area  If you wish to just record an area, example a WebCam Then click on \"area\"");
  }

  // With both buttons cleared (only a program can do that) OK does nothing.
  Form2->show();
  Form2->RadioButton2->setAutoExclusive(false);
  Form2->RadioButton2->setChecked(false);
  Form2->Button1->click();
  EXPECT_TRUE(Form2->isVisible());
  EXPECT_FALSE(Form4->isVisible());
  EXPECT_FALSE(Form1->WindowMirror->Enabled());
  Form2->RadioButton2->setChecked(true);
  Form2->RadioButton2->setAutoExclusive(true);

  // Cancel runs the main window's Cancel (which stops a running preview)
  // and hides the dialog; it leaves the following alone.
  Form1->getpic->setEnabled(true);
  Form1->WindowMirror->setEnabled(true);
  testsupport::ModalWatcher any;
  Form2->Button3->click();
  EXPECT_FALSE(Form2->isVisible());
  EXPECT_FALSE(Form1->getpic->Enabled());
  EXPECT_TRUE(Form1->WindowMirror->Enabled());
  EXPECT_FALSE(Form1->isVisible());
}
