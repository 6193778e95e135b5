// The preferences: loading after start-up, saving on the toolbar's "Exit",
// the menu commands and the three dialogs, on the real forms.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeySequenceEdit>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "support/programwindows.h"
#include "app/frameratedialog.h"
#include "app/mainwindow.h"
#include "app/keeppreviewdialog.h"
#include "app/optionsdialog.h"
#include "framework/application.h"
#include "framework/image.h"
#include "framework/statusbar.h"
#include "framework/timer.h"
#include "support/profile/helpers.h"
#include "support/modal.h"
#include "target/remotecontrol.h"

using namespace settingstest;
using testsupport::ModalWatcher;
using testsupport::pumpUntil;
namespace fs = std::filesystem;

namespace {

class Prefs : public ::testing::Test {
 protected:
  // One run of the program: the windows, and Timer2's first tick.
  void SetUp() override {
    program = std::make_unique<testsupport::ProgramWindows>(testsupport::ProgramWindows::Preferences::Loaded);
    ASSERT_FALSE(testsupport::control<framework::Timer>(mainWindow(), "Timer2")->Enabled());
  }
  void TearDown() override { program.reset(); }
  void stop() { program->close(); }
  void start() { program->open(); }
  void restart() { program->restart(); }
  fs::path dir() const { return program->settingsDir(); }
  fs::path ini() const { return dir() / "kestrel.ini"; }

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

  std::unique_ptr<testsupport::ProgramWindows> program;
};

struct Marks {
  bool stretch, nonstretch, single, avi, on1, off1, ask1, keep1, on2, off2;
  bool box1, box2, box3;
  QString framerate;
  bool desktopSound, microphone, soundCompressed;
};

Marks current() {
  return {testsupport::menuItem("Strech1")->isChecked(), testsupport::menuItem("NonStretch1")->isChecked(), testsupport::menuItem("Single1")->isChecked(),
          testsupport::menuItem("Avi1")->isChecked(),    testsupport::menuItem("On1")->isChecked(),         testsupport::menuItem("Off1")->isChecked(),
          testsupport::menuItem("Ask1")->isChecked(),    testsupport::menuItem("Keep1")->isChecked(),       testsupport::menuItem("On2")->isChecked(),
          testsupport::menuItem("Off2")->isChecked(),    testsupport::control<QCheckBox>(optionsDialog(), "CheckBox1")->isChecked(),   testsupport::control<QCheckBox>(optionsDialog(), "CheckBox2")->isChecked(),
          testsupport::control<QCheckBox>(optionsDialog(), "CheckBox3")->isChecked(), frameRateDialog()->rateText(),
          testsupport::control<QCheckBox>(optionsDialog(), "SoundDesktop")->isChecked(),
          testsupport::control<QCheckBox>(optionsDialog(), "SoundMicrophone")->isChecked(),
          testsupport::control<QCheckBox>(optionsDialog(), "SoundCompressed")->isChecked()};
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
  EXPECT_FALSE(m.desktopSound) << "no sound unless asked for";
  EXPECT_FALSE(m.microphone);
  EXPECT_FALSE(m.soundCompressed);
  EXPECT_FALSE(mainWindow()->preview()->Stretch());
  EXPECT_EQ(!mainWindow()->remoteShown(), false);
  EXPECT_FALSE(fs::exists(ini())) << "loading writes nothing";
}

TEST_F(Prefs, EveryStoredValueIsRestored) {
  stop();
  fs::create_directories(dir());
  spit(ini(),
       "[setup]\nstretch=1\nnonstrech=0\nsingle=1\navi=0\non1=0\noff1=1\nask1=1\nkeep1=1\non2=0\noff2=1\n"
       "sounddesktop=1\nsoundmic=1\nsoundmp3=1\nframerate=not a number\n");
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
  EXPECT_TRUE(m.desktopSound && m.microphone && m.soundCompressed);
  // The stored "Stetch Image" and "Remote Control" take effect.
  EXPECT_TRUE(mainWindow()->preview()->Stretch());
  EXPECT_EQ(!mainWindow()->remoteShown(), true);
}

TEST_F(Prefs, ToolbarExitSavesExactlyTheStoredKeysAndRestartRestoresThem) {
  EXPECT_FALSE(testsupport::control<QCheckBox>(optionsDialog(), "PointerBox")->isChecked()) << "off at first";
  EXPECT_FALSE(mainWindow()->session().pointerShown());
  testsupport::control<QCheckBox>(optionsDialog(), "PointerBox")->setChecked(true);
  EXPECT_TRUE(mainWindow()->session().pointerShown()) << "the preview shows the pointer at once";
  testsupport::control<QKeySequenceEdit>(optionsDialog(), "PauseKey")->clear();
  testsupport::control<QCheckBox>(optionsDialog(), "CheckBox1")->setChecked(true);
  testsupport::control<QCheckBox>(optionsDialog(), "SoundMicrophone")->setChecked(true);
  testsupport::control<QCheckBox>(optionsDialog(), "CheckBox2")->setChecked(false);
  testsupport::control<QCheckBox>(optionsDialog(), "CheckBox3")->setChecked(true);
  testsupport::menuItem("Keep1")->trigger();
  frameRateDialog()->setRateText(QStringLiteral("7"));
  mainWindow()->show();
  click(testsupport::control(mainWindow(), "Button10"));
  EXPECT_FALSE(mainWindow()->isVisible()) << "Exit closes the main window";
  EXPECT_EQ(slurp(ini()),
            "[setup]\nstretch=1\nnonstrech=1\nsingle=0\navi=1\non1=0\noff1=0\nask1=1\nkeep1=1\non2=1\noff2=0\n"
            "sounddesktop=0\nsoundmic=1\nsoundmp3=0\nframerate=7\npointer=1\nstartstopkey=Ctrl+Alt+Shift+F9\npausekey=none\n");
  restart();
  EXPECT_EQ(testsupport::control<QKeySequenceEdit>(optionsDialog(), "StartStopKey")->keySequence(),
            QKeySequence(QStringLiteral("Ctrl+Alt+Shift+F9")))
      << "the default";
  EXPECT_TRUE(testsupport::control<QKeySequenceEdit>(optionsDialog(), "PauseKey")->keySequence().isEmpty())
      << "a shortcut taken away stays away";
  EXPECT_TRUE(testsupport::control<QCheckBox>(optionsDialog(), "PointerBox")->isChecked());
  EXPECT_TRUE(mainWindow()->session().pointerShown());
  const Marks m = current();
  EXPECT_TRUE(m.box1 && m.stretch && !m.nonstretch);
  EXPECT_TRUE(!m.box2 && !m.on1 && m.off1);
  EXPECT_TRUE(m.box3 && m.ask1 && m.keep1);
  EXPECT_EQ(m.framerate, QStringLiteral("7"));
  EXPECT_TRUE(!m.desktopSound && m.microphone);
  EXPECT_TRUE(mainWindow()->preview()->Stretch());
  EXPECT_EQ(!mainWindow()->remoteShown(), true);
  // Saved again unchanged, the file reads the same (now consistently).
  mainWindow()->show();
  click(testsupport::control(mainWindow(), "Button10"));
  EXPECT_EQ(slurp(ini()),
            "[setup]\nstretch=1\nnonstrech=0\nsingle=0\navi=1\non1=0\noff1=1\nask1=1\nkeep1=1\non2=1\noff2=0\n"
            "sounddesktop=0\nsoundmic=1\nsoundmp3=0\nframerate=7\npointer=1\nstartstopkey=Ctrl+Alt+Shift+F9\npausekey=none\n");
}

TEST_F(Prefs, MenuExitAndCloseBoxWriteNothing) {
  testsupport::control<QCheckBox>(optionsDialog(), "CheckBox3")->setChecked(true);
  mainWindow()->show();
  testsupport::menuItem("Exit1")->trigger();
  EXPECT_FALSE(mainWindow()->isVisible());
  EXPECT_FALSE(fs::exists(ini()));
  restart();
  EXPECT_FALSE(testsupport::control<QCheckBox>(optionsDialog(), "CheckBox3")->isChecked());
  testsupport::control<QCheckBox>(optionsDialog(), "CheckBox3")->setChecked(true);
  mainWindow()->show();
  mainWindow()->close();
  EXPECT_FALSE(fs::exists(ini()));
}

TEST_F(Prefs, FailedSaveShowsTheErrorKeepsRunningAndKeepsTheFile) {
  mainWindow()->show();
  click(testsupport::control(mainWindow(), "Button10"));
  ASSERT_TRUE(fs::exists(ini()));
  restart();
  const std::string before = slurp(ini());
  ASSERT_EQ(::chmod(ini().c_str(), 0444), 0);
  testsupport::control<QCheckBox>(optionsDialog(), "CheckBox3")->setChecked(true);
  frameRateDialog()->setRateText(QStringLiteral("9"));
  mainWindow()->show();
  const int errorsBefore = framework::handledExceptionCount();
  ModalWatcher watcher;
  click(testsupport::control(mainWindow(), "Button10"));
  EXPECT_EQ(framework::handledExceptionCount(), errorsBefore + 1);
  EXPECT_EQ(watcher.texts(), QStringList{QStringLiteral("Unable to write to kestrel.ini")});
  EXPECT_TRUE(mainWindow()->isVisible()) << "the program keeps running";
  EXPECT_EQ(slurp(ini()), before);
  EXPECT_EQ(listDir(dir()), std::vector<std::string>{"kestrel.ini"});
}

TEST_F(Prefs, StretchAndPreviewCommands) {
  testsupport::menuItem("Strech1")->trigger();
  EXPECT_TRUE(testsupport::menuItem("Strech1")->isChecked());
  EXPECT_FALSE(testsupport::menuItem("NonStretch1")->isChecked());
  EXPECT_TRUE(mainWindow()->preview()->Stretch());
  testsupport::menuItem("NonStretch1")->trigger();
  EXPECT_FALSE(testsupport::menuItem("Strech1")->isChecked());
  EXPECT_TRUE(testsupport::menuItem("NonStretch1")->isChecked());
  EXPECT_FALSE(mainWindow()->preview()->Stretch());
  testsupport::menuItem("Keep1")->trigger();
  EXPECT_TRUE(testsupport::menuItem("Keep1")->isChecked());
  EXPECT_FALSE(testsupport::menuItem("Ask1")->isChecked());
  testsupport::menuItem("Ask1")->trigger();
  EXPECT_FALSE(testsupport::menuItem("Keep1")->isChecked());
  EXPECT_TRUE(testsupport::menuItem("Ask1")->isChecked());
  // Ticking "Stetch Image" acts only through the next start.
  testsupport::control<QCheckBox>(optionsDialog(), "CheckBox1")->setChecked(false);
  testsupport::control<QCheckBox>(optionsDialog(), "CheckBox1")->click();
  EXPECT_FALSE(mainWindow()->preview()->Stretch());
}

TEST_F(Prefs, DialogsAreModelessAndTheirButtonsAct) {
  testsupport::menuItem("Setup1")->trigger();
  EXPECT_TRUE(optionsDialog()->isVisible());
  EXPECT_FALSE(optionsDialog()->isModal());
  testsupport::control(optionsDialog(), "Button1")->click();
  EXPECT_TRUE(frameRateDialog()->isVisible());
  frameRateDialog()->hide();
  testsupport::menuItem("FrameRate1")->trigger();
  EXPECT_TRUE(frameRateDialog()->isVisible());
  EXPECT_FALSE(frameRateDialog()->isModal());
  frameRateDialog()->setRateText(QStringLiteral("5"));
  testsupport::control(frameRateDialog(), "Button2")->click();
  EXPECT_EQ(frameRateDialog()->rateText(), QStringLiteral("1")) << "Cancel falls back to 1";
  EXPECT_FALSE(frameRateDialog()->isVisible());
  testsupport::menuItem("FrameRate1")->trigger();
  frameRateDialog()->setRateText(QStringLiteral("abc"));
  testsupport::control(frameRateDialog(), "Button1")->click();
  EXPECT_EQ(frameRateDialog()->rateText(), QStringLiteral("abc"));
  EXPECT_FALSE(frameRateDialog()->isVisible());
  // OK shows the main window, even a hidden one.
  mainWindow()->hide();
  testsupport::control(optionsDialog(), "Button2")->click();
  EXPECT_FALSE(optionsDialog()->isVisible());
  EXPECT_TRUE(mainWindow()->isVisible());
  testsupport::control(optionsDialog(), "Button3")->click();  // the hidden help does nothing
  EXPECT_TRUE(testsupport::control(optionsDialog(), "Button3")->isHidden());

  ModalWatcher watcher;
  testsupport::control(frameRateDialog(), "Button3")->click();
  // Let the watcher see the first box gone before the second one comes.
  testsupport::pumpFor(100);
  testsupport::control(keepPreviewDialog(), "Button1")->click();
  EXPECT_EQ(watcher.texts(),
            (QStringList{QStringLiteral("Frames per seconds is how many frames are recorded each second."),
                         QStringLiteral("If you wish to keep the image updating, while not recording then Keep "
                                        "Preview.")}));
  for (const auto& box : watcher.seen()) EXPECT_EQ(box.title, framework::Application::title());
}

TEST_F(Prefs, KeepPreviewAnswers) {
  EXPECT_TRUE(testsupport::control<QRadioButton>(keepPreviewDialog(), "RadioButton2")->isChecked());
  // "No Preview" and OK: the grab stops, the remote control goes.
  remoteControl()->show();
  session().startPreview();
  keepPreviewDialog()->show();
  testsupport::control(keepPreviewDialog(), "Button2")->click();
  EXPECT_FALSE(session().previewing());
  EXPECT_FALSE(remoteControl()->isVisible());
  EXPECT_FALSE(keepPreviewDialog()->isVisible());
  EXPECT_TRUE(mainWindow()->isVisible());
  // "Keep Preview" and OK: the grab runs again; the choice stays.
  testsupport::control<QRadioButton>(keepPreviewDialog(), "RadioButton1")->setChecked(true);
  keepPreviewDialog()->show();
  testsupport::control(keepPreviewDialog(), "Button2")->click();
  EXPECT_TRUE(session().previewing());
  session().stopPreview();
  EXPECT_TRUE(testsupport::control<QRadioButton>(keepPreviewDialog(), "RadioButton1")->isChecked());
  // Cancel: the grab stops whatever is selected.
  session().startPreview();
  mainWindow()->hide();
  keepPreviewDialog()->show();
  testsupport::control(keepPreviewDialog(), "Button3")->click();
  EXPECT_FALSE(session().previewing());
  EXPECT_FALSE(keepPreviewDialog()->isVisible());
  EXPECT_TRUE(mainWindow()->isVisible());
}

TEST_F(Prefs, DialogTextsAndHintLine) {
  EXPECT_EQ(optionsDialog()->windowTitle(), QStringLiteral("Options"));
  EXPECT_EQ(frameRateDialog()->windowTitle(), QStringLiteral("Frame Rate"));
  EXPECT_EQ(keepPreviewDialog()->windowTitle(), QStringLiteral("Keep Preview ?"));
  EXPECT_EQ(testsupport::control<QPlainTextEdit>(frameRateDialog(), "Memo1")->toPlainText(),
            QStringLiteral("When changing the frame rate it \nis recommened to stay between 1 \nand 10 frames per "
                           "second.  If your \nrecordings are slow, it is due to \nthe processes time.  If this "
                           "occurs \nthen you should lower your frame \nrate."));
  EXPECT_TRUE(testsupport::control<QPlainTextEdit>(frameRateDialog(), "Memo1")->isReadOnly());
  EXPECT_EQ(testsupport::control<QPlainTextEdit>(frameRateDialog(), "Memo1")->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(testsupport::control<QPlainTextEdit>(frameRateDialog(), "Memo1")->palette().color(QPalette::Base), frameRateDialog()->palette().color(QPalette::Window));

  optionsDialog()->show();
  auto hint = [] { return testsupport::control<framework::StatusBar>(optionsDialog(), "StatusBar1")->SimpleText(); };
  EXPECT_EQ(hint(), QString());
  hover(testsupport::control<QCheckBox>(optionsDialog(), "CheckBox1"));
  EXPECT_EQ(hint(), QStringLiteral("Stretch the viewing image to fit the preview window."));
  hover(testsupport::control<QCheckBox>(optionsDialog(), "CheckBox2"));
  hover(testsupport::control<QCheckBox>(optionsDialog(), "CheckBox3"));
  hover(testsupport::control(optionsDialog(), "Button2"));
  EXPECT_EQ(hint(), QStringLiteral("Stretch the viewing image to fit the preview window."));
  hover(testsupport::control<QGroupBox>(optionsDialog(), "GroupBox1"));
  EXPECT_EQ(hint(), QString());
  hover(testsupport::control<QCheckBox>(optionsDialog(), "CheckBox1"));
  hover(optionsDialog());
  EXPECT_EQ(hint(), QString());
}
