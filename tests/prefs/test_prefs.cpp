// The preferences: loading after start-up, saving on the toolbar's "Exit",
// the menu commands and the three dialogs, on the real forms.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/forms.h"
#include "app/framerate.h"
#include "app/main.h"
#include "app/preview.h"
#include "app/unit9.h"
#include "framework/application.h"
#include "framework/image.h"
#include "framework/statusbar.h"
#include "framework/timer.h"
#include "profile/helpers.h"
#include "support/modal.h"
#include "target/unit8.h"

using namespace settingstest;
using testsupport::ModalWatcher;
using testsupport::pumpUntil;
namespace fs = std::filesystem;

namespace {

class Prefs : public ::testing::Test {
 protected:
  void SetUp() override { start(); }
  void TearDown() override { stop(); }

  // One run of the program: the forms, and Timer2's first tick.
  void start() {
    CreateForms();
    ASSERT_TRUE(pumpUntil([] { return !Form1->Timer2->Enabled(); }, 5000));
  }
  void stop() {
    if (!Form1) return;
    Form1->getpic->setEnabled(false);
    DestroyForms();
    QApplication::processEvents();  // the quit event of the closed main window
  }
  void restart() {
    stop();
    start();
  }
  fs::path ini() const { return home.dir() / "kestrel.ini"; }

  // A click as the window system delivers it, through the application's
  // top-level error handler.
  static void click(QWidget* w) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    const QPointF global = w->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &release);
  }
  static void hover(QWidget* w) {
    const QPointF at(3, 3);
    QMouseEvent move(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
  }

  ConfigHome home;
};

struct Marks {
  bool stretch, nonstretch, single, avi, on1, off1, ask1, keep1, on2, off2;
  bool box1, box2, box3;
  QString framerate;
};

Marks current() {
  return {Form1->Strech1->isChecked(), Form1->NonStretch1->isChecked(), Form1->Single1->isChecked(),
          Form1->Avi1->isChecked(),    Form1->On1->isChecked(),         Form1->Off1->isChecked(),
          Form1->Ask1->isChecked(),    Form1->Keep1->isChecked(),       Form1->On2->isChecked(),
          Form1->Off2->isChecked(),    Form9->CheckBox1->isChecked(),   Form9->CheckBox2->isChecked(),
          Form9->CheckBox3->isChecked(), Form6->Edit1->text()};
}

}  // namespace

TEST_F(Prefs, FirstStartWithoutAFileGivesTheDefaults) {
  const Marks m = current();
  EXPECT_FALSE(m.stretch);
  EXPECT_TRUE(m.nonstretch);
  EXPECT_FALSE(m.single);
  EXPECT_TRUE(m.avi);
  EXPECT_TRUE(m.on1);
  EXPECT_FALSE(m.off1);
  EXPECT_FALSE(m.ask1);
  EXPECT_FALSE(m.keep1);
  EXPECT_TRUE(m.on2);
  EXPECT_FALSE(m.off2);
  EXPECT_FALSE(m.box1);
  EXPECT_TRUE(m.box2);
  EXPECT_FALSE(m.box3);
  EXPECT_EQ(m.framerate, QStringLiteral("2"));
  EXPECT_FALSE(Form1->Image1->Stretch());
  EXPECT_EQ(Form1->remoteOff, 0);
  EXPECT_FALSE(fs::exists(ini())) << "loading writes nothing";
}

TEST_F(Prefs, EveryStoredValueIsRestored) {
  stop();
  fs::create_directories(home.dir());
  spit(ini(),
       "[setup]\nstretch=1\nnonstrech=0\nsingle=1\navi=0\non1=0\noff1=1\nask1=1\nkeep1=1\non2=0\noff2=1\n"
       "framerate=not a number\n");
  start();
  const Marks m = current();
  EXPECT_TRUE(m.stretch);
  EXPECT_FALSE(m.nonstretch);
  EXPECT_TRUE(m.single);
  EXPECT_FALSE(m.avi);
  EXPECT_FALSE(m.on1);
  EXPECT_TRUE(m.off1);
  EXPECT_TRUE(m.ask1);
  EXPECT_TRUE(m.keep1);
  EXPECT_FALSE(m.on2);
  EXPECT_TRUE(m.off2);
  EXPECT_TRUE(m.box1);
  EXPECT_FALSE(m.box2);
  EXPECT_TRUE(m.box3);
  EXPECT_EQ(m.framerate, QStringLiteral("not a number")) << "the frame rate is text, checked only by Start";
  // The stored "Stetch Image" and "Remote Control" take effect.
  EXPECT_TRUE(Form1->Image1->Stretch());
  EXPECT_EQ(Form1->remoteOff, 1);
}

TEST_F(Prefs, ToolbarExitSavesExactlyTheElevenKeysAndRestartRestoresThem) {
  Form9->CheckBox1->setChecked(true);
  Form9->CheckBox2->setChecked(false);
  Form9->CheckBox3->setChecked(true);
  Form1->Keep1->trigger();
  Form6->Edit1->setText(QStringLiteral("7"));
  Form1->show();
  click(Form1->Button10);
  EXPECT_FALSE(Form1->isVisible()) << "Exit closes the main window";
  EXPECT_EQ(slurp(ini()),
            "[setup]\nstretch=1\nnonstrech=1\nsingle=0\navi=1\non1=0\noff1=0\nask1=1\nkeep1=1\non2=1\noff2=0\n"
            "framerate=7\n");
  restart();
  const Marks m = current();
  EXPECT_TRUE(m.box1 && m.stretch && !m.nonstretch);
  EXPECT_TRUE(!m.box2 && !m.on1 && m.off1);
  EXPECT_TRUE(m.box3 && m.ask1 && m.keep1);
  EXPECT_EQ(m.framerate, QStringLiteral("7"));
  EXPECT_TRUE(Form1->Image1->Stretch());
  EXPECT_EQ(Form1->remoteOff, 1);
  // Saved again unchanged, the file reads the same (now consistently).
  Form1->show();
  click(Form1->Button10);
  EXPECT_EQ(slurp(ini()),
            "[setup]\nstretch=1\nnonstrech=0\nsingle=0\navi=1\non1=0\noff1=1\nask1=1\nkeep1=1\non2=1\noff2=0\n"
            "framerate=7\n");
}

TEST_F(Prefs, MenuExitAndCloseBoxWriteNothing) {
  Form9->CheckBox3->setChecked(true);
  Form1->show();
  Form1->Exit1->trigger();
  EXPECT_FALSE(Form1->isVisible());
  EXPECT_FALSE(fs::exists(ini()));
  restart();
  EXPECT_FALSE(Form9->CheckBox3->isChecked());
  Form9->CheckBox3->setChecked(true);
  Form1->show();
  Form1->close();
  EXPECT_FALSE(fs::exists(ini()));
}

TEST_F(Prefs, FailedSaveShowsTheErrorKeepsRunningAndKeepsTheFile) {
  Form1->show();
  click(Form1->Button10);
  ASSERT_TRUE(fs::exists(ini()));
  restart();
  const std::string before = slurp(ini());
  ASSERT_EQ(::chmod(ini().c_str(), 0444), 0);
  Form9->CheckBox3->setChecked(true);
  Form6->Edit1->setText(QStringLiteral("9"));
  Form1->show();
  const int errorsBefore = forms::handledExceptionCount();
  ModalWatcher watcher;
  click(Form1->Button10);
  EXPECT_EQ(forms::handledExceptionCount(), errorsBefore + 1);
  EXPECT_EQ(watcher.texts(), QStringList{QStringLiteral("Unable to write to kestrel.ini")});
  EXPECT_TRUE(Form1->isVisible()) << "the program keeps running";
  EXPECT_EQ(slurp(ini()), before);
  EXPECT_EQ(listDir(home.dir()), std::vector<std::string>{"kestrel.ini"});
}

TEST_F(Prefs, StretchAndPreviewCommands) {
  Form1->Strech1->trigger();
  EXPECT_TRUE(Form1->Strech1->isChecked());
  EXPECT_FALSE(Form1->NonStretch1->isChecked());
  EXPECT_TRUE(Form1->Image1->Stretch());
  Form1->NonStretch1->trigger();
  EXPECT_FALSE(Form1->Strech1->isChecked());
  EXPECT_TRUE(Form1->NonStretch1->isChecked());
  EXPECT_FALSE(Form1->Image1->Stretch());
  Form1->Keep1->trigger();
  EXPECT_TRUE(Form1->Keep1->isChecked());
  EXPECT_FALSE(Form1->Ask1->isChecked());
  Form1->Ask1->trigger();
  EXPECT_FALSE(Form1->Keep1->isChecked());
  EXPECT_TRUE(Form1->Ask1->isChecked());
  // Ticking "Stetch Image" acts only through the next start.
  Form9->CheckBox1->setChecked(false);
  Form9->CheckBox1->click();
  EXPECT_FALSE(Form1->Image1->Stretch());
}

TEST_F(Prefs, DialogsAreModelessAndTheirButtonsAct) {
  Form1->Setup1->trigger();
  EXPECT_TRUE(Form9->isVisible());
  EXPECT_FALSE(Form9->isModal());
  Form9->Button1->click();
  EXPECT_TRUE(Form6->isVisible());
  Form6->hide();
  Form1->FrameRate1->trigger();
  EXPECT_TRUE(Form6->isVisible());
  EXPECT_FALSE(Form6->isModal());
  Form6->Edit1->setText(QStringLiteral("5"));
  Form6->Button2->click();
  EXPECT_EQ(Form6->Edit1->text(), QStringLiteral("1")) << "Cancel falls back to 1";
  EXPECT_FALSE(Form6->isVisible());
  Form1->FrameRate1->trigger();
  Form6->Edit1->setText(QStringLiteral("abc"));
  Form6->Button1->click();
  EXPECT_EQ(Form6->Edit1->text(), QStringLiteral("abc"));
  EXPECT_FALSE(Form6->isVisible());
  // OK shows the main window, even a hidden one.
  Form1->hide();
  Form9->Button2->click();
  EXPECT_FALSE(Form9->isVisible());
  EXPECT_TRUE(Form1->isVisible());
  Form9->Button3->click();  // the hidden help does nothing
  EXPECT_TRUE(Form9->Button3->isHidden());

  ModalWatcher watcher;
  Form6->Button3->click();
  // Let the watcher see the first box gone before the second one comes.
  testsupport::pumpFor(100);
  Form5->Button1->click();
  EXPECT_EQ(watcher.texts(),
            (QStringList{QStringLiteral("Frames per seconds is how many frames are recorded each second."),
                         QStringLiteral("If you wish to keep the image updating, while not recording then Keep "
                                        "Preview.")}));
  for (const auto& box : watcher.seen()) EXPECT_EQ(box.title, forms::Application::title());
}

TEST_F(Prefs, KeepPreviewAnswers) {
  EXPECT_TRUE(Form5->RadioButton2->isChecked());
  // "No Preview" and OK: the grab stops, the remote control goes.
  Form8->show();
  Form1->getpic->setEnabled(true);
  Form5->show();
  Form5->Button2->click();
  EXPECT_FALSE(Form1->getpic->Enabled());
  EXPECT_FALSE(Form8->isVisible());
  EXPECT_FALSE(Form5->isVisible());
  EXPECT_TRUE(Form1->isVisible());
  // "Keep Preview" and OK: the grab runs again; the choice stays.
  Form5->RadioButton1->setChecked(true);
  Form5->show();
  Form5->Button2->click();
  EXPECT_TRUE(Form1->getpic->Enabled());
  Form1->getpic->setEnabled(false);
  EXPECT_TRUE(Form5->RadioButton1->isChecked());
  // Cancel: the grab stops whatever is selected.
  Form1->getpic->setEnabled(true);
  Form1->hide();
  Form5->show();
  Form5->Button3->click();
  EXPECT_FALSE(Form1->getpic->Enabled());
  EXPECT_FALSE(Form5->isVisible());
  EXPECT_TRUE(Form1->isVisible());
}

TEST_F(Prefs, DialogTextsAndHintLine) {
  EXPECT_EQ(Form9->windowTitle(), QStringLiteral("Options"));
  EXPECT_EQ(Form6->windowTitle(), QStringLiteral("Frame Rate"));
  EXPECT_EQ(Form5->windowTitle(), QStringLiteral("Keep Preview ?"));
  EXPECT_EQ(Form6->Memo1->toPlainText(),
            QStringLiteral("When changing the frame rate it \nis recommened to stay between 1 \nand 10 frames per "
                           "second.  If your \nrecordings are slow, it is due to \nthe processes time.  If this "
                           "occurs \nthen you should lower your frame \nrate."));
  EXPECT_TRUE(Form6->Memo1->isReadOnly());
  EXPECT_EQ(Form6->Memo1->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(Form6->Memo1->palette().color(QPalette::Base), Form6->palette().color(QPalette::Window));

  Form9->show();
  auto hint = [] { return Form9->StatusBar1->SimpleText(); };
  EXPECT_EQ(hint(), QString());
  hover(Form9->CheckBox1);
  EXPECT_EQ(hint(), QStringLiteral("Stretch the viewing image to fit the preview window."));
  hover(Form9->CheckBox2);
  hover(Form9->CheckBox3);
  hover(Form9->Button2);
  EXPECT_EQ(hint(), QStringLiteral("Stretch the viewing image to fit the preview window."));
  hover(Form9->GroupBox1);
  EXPECT_EQ(hint(), QString());
  hover(Form9->CheckBox1);
  hover(Form9);
  EXPECT_EQ(hint(), QString());
}
