// What the main window's own commands do: help boxes, hide and restore,
// the three ways out, the web links and "&Play Avi".
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

#include "components/launch.h"
#include "components/trayicon.h"
#include "mainwindow_fixture.h"
#include "support/recording_opener.h"

using namespace components;

using testsupport::ModalWatcher;
using testsupport::RecordingOpener;

namespace {

const char* const kHelp5 =
    "1. Start Avi is the first step in recording an avi from the desktop\r\n"
    "2. Close Avi is how you close an avi you recorded\r\n"
    "3. Avi Options  This is how you fine tune your Avi, these are advanced controls.\r\n"
    "4. Play Avi is one way you can play the avis you record.";
const char* const kHelp6 =
    "1. Start This allows you to make avis from bitmaps i.e. *.bmp in a non-real time\r\n"
    "2.  Close This closes the window that allows you to record non-real time avis and returns you to real-time "
    "recording.";
const char* const kHelp4 =
    "Avi Capture Options\r\n"
    "1. Avi Window  This allows you to strech the video you record, often this leads to distortion if strech is set "
    "to true.\r\n"
    "2. Capture Type This allows you to switch between recording an avi and a bitmap\r\n"
    "3. Record Type This allows you to record the capture to files then come back and make an avi with the "
    "captures.\r\n"
    "6. Remote Control. This allows a a set of control record under your set window\r\n"
    "5. Frame Rate.  This allows you to change the rate of frames recorded per second,";
const char* const kHelp7 =
    "Easy Capture allows the you to save a capture of what you are previewing.  The file is saved in bitmap format.";

// Picks a file in OpenDialog2 as a person would: go to the folder, type the
// name, press Open.
struct PickFile {
  QString folder, name;
  void operator()(QWidget* w) const {
    auto* dlg = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dlg, nullptr);
    ASSERT_EQ(dlg->objectName(), QStringLiteral("OpenDialog2"));
    dlg->setDirectory(folder);
    dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
    dlg->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Open)->click();
  }
};

QString makeFile(const QString& folder, const QString& name) {
  QDir().mkpath(folder);
  QFile f(folder + QLatin1Char('/') + name);
  f.open(QIODevice::WriteOnly);
  return f.fileName();
}

}  // namespace

TEST_F(MainWindowTest, HelpBoxesShowTheirTextsExactly) {
  ModalWatcher watcher;
  item("Help5")->trigger();
  item("Help6")->trigger();
  item("Help4")->trigger();
  item("Help7")->trigger();
  ASSERT_EQ(watcher.seen().size(), 4u);
  const char* expected[] = {kHelp5, kHelp6, kHelp4, kHelp7};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(watcher.seen()[i].text.toUtf8(), QByteArray(expected[i])) << i;
    EXPECT_EQ(watcher.seen()[i].title, QStringLiteral("Kestrel"));
    EXPECT_EQ(watcher.seen()[i].className, QStringLiteral("QMessageBox"));
  }
  EXPECT_TRUE(watcher.seen()[2].text.endsWith(QLatin1Char(',')));
  EXPECT_EQ(watcher.seen()[2].text.count(QStringLiteral("\r\n")), 5);
}

TEST_F(MainWindowTest, HideAndBringBackFromTheTrayIcon) {
  mainWindow()->show();
  mainWindow()->trayIcon()->setActive(true);
  testsupport::control(mainWindow(), "Button9")->click();
  EXPECT_FALSE(mainWindow()->isVisible());
  EXPECT_TRUE(mainWindow()->trayIcon()->Active()) << "the icon stays while hidden";
  mainWindow()->showAndRaise();
  EXPECT_TRUE(mainWindow()->isVisible());
  testsupport::control(mainWindow(), "Button9")->click();
  mainWindow()->trayIcon()->OnDblClick(nullptr);
  EXPECT_TRUE(mainWindow()->isVisible());
  // Clicking while shown only raises it.
  mainWindow()->showAndRaise();
  EXPECT_TRUE(mainWindow()->isVisible());

  // The way the shell reports a double click reaches the same handlers.
  testsupport::control(mainWindow(), "Button9")->click();
  const shell::HWND h = mainWindow()->trayIcon()->messageWindow();
  const shell::UINT cb = components::TrayIcon::toolTrayIconMessage();
  shell::PostMessageA(h, cb, 0, shell::WM_LBUTTONDOWN);
  testsupport::pumpFor(30);
  EXPECT_FALSE(mainWindow()->isVisible()) << "a press alone does nothing";
  shell::PostMessageA(h, cb, 0, shell::WM_LBUTTONUP);
  EXPECT_TRUE(testsupport::pumpUntil([] { return mainWindow()->isVisible(); }, 2000));
  testsupport::control(mainWindow(), "Button9")->click();
  shell::PostMessageA(h, cb, 0, shell::WM_LBUTTONDBLCLK);
  EXPECT_TRUE(testsupport::pumpUntil([] { return mainWindow()->isVisible(); }, 2000));
}

TEST_F(MainWindowTest, ToolbarExitSavesSettingsAndCloses) {
  ModalWatcher watcher;
  mainWindow()->show();
  ASSERT_TRUE(ini().isEmpty());
  testsupport::control(mainWindow(), "Button10")->click();
  EXPECT_FALSE(mainWindow()->isVisible());
  EXPECT_TRUE(ini().contains("[setup]")) << ini().toStdString();
  EXPECT_TRUE(watcher.seen().empty()) << watcher.texts().join('|').toStdString();
}

TEST_F(MainWindowTest, MenuExitAndCloseBoxCloseWithoutSaving) {
  ModalWatcher watcher;
  mainWindow()->show();
  item("Exit1")->trigger();
  EXPECT_FALSE(mainWindow()->isVisible());
  EXPECT_TRUE(ini().isEmpty());
  mainWindow()->show();
  mainWindow()->close();  // the window frame's close box
  EXPECT_FALSE(mainWindow()->isVisible());
  EXPECT_TRUE(ini().isEmpty());
  EXPECT_TRUE(watcher.seen().empty());
}

TEST_F(MainWindowTest, WebLinksOpenTheirPagesInTheBrowser) {
  RecordingOpener opener;
  const struct {
    const char* item;
    const char* page;
  } links[] = {{"OnlineHelp1", "recording.html"},
               {"OnlineHelp4", "options.html"},
               {"OnlineHelp2", "builder.html"},
               {"OnlineHelp3", "index.html"},
               {"LatestVersion1", "version.html"}};
  for (const auto& l : links) {
    const std::size_t before = opener.calls().size();
    item(l.item)->trigger();
    ASSERT_TRUE(opener.waitFor(before + 1)) << l.item;
    // Calls are listed newest last; find the one that names this page.
    bool found = false;
    for (const auto& c : opener.calls()) {
      ASSERT_EQ(c.args.size(), 1) << l.item;
      if (!c.args[0].endsWith(QLatin1String(l.page))) continue;
      found = true;
      EXPECT_EQ(c.args[0], helpPageUrl(QLatin1String(l.page)));
      const QUrl url(c.args[0]);
      EXPECT_TRUE(url.isLocalFile());
      EXPECT_TRUE(QFile::exists(url.toLocalFile())) << url.toLocalFile().toStdString();
    }
    EXPECT_TRUE(found) << l.item;
  }
  EXPECT_EQ(opener.calls().size(), 5u);
}

TEST_F(MainWindowTest, PlayAviLaunchesTheChosenFileWholeAndCancelLaunchesNothing) {
  RecordingOpener opener;
  // A folder and a name with quotes, blanks, ';' and '$(...)'.
  const QString oddFolder = opener.folder() + QStringLiteral("/it's \"our\" $HOME; dir");
  const QString oddName = QStringLiteral("clip; $(touch ran) 'x'.avi");
  const QString odd = makeFile(oddFolder, oddName);
  {
    ModalWatcher watcher(PickFile{oddFolder, oddName});
    item("OpenFile1")->trigger();
  }
  ASSERT_TRUE(opener.waitFor(1));
  EXPECT_EQ(opener.calls()[0].args, QStringList{odd});

  // A path of 200 characters.
  QString longFolder = opener.folder();
  while (longFolder.size() < 170) longFolder += QStringLiteral("/recordings");
  const QString longName = QString(200 - longFolder.size() - 5, 'r') + QStringLiteral(".avi");
  const QString longPath = makeFile(longFolder, longName);
  ASSERT_EQ(longPath.size(), 200);
  {
    ModalWatcher watcher(PickFile{longFolder, longName});
    item("OpenFile1")->trigger();
  }
  ASSERT_TRUE(opener.waitFor(2));
  QStringList all;
  for (const auto& c : opener.calls()) all << c.args;
  EXPECT_TRUE(all.contains(longPath)) << all.join('\n').toStdString();
  EXPECT_FALSE(QFile::exists(oddFolder + QStringLiteral("/ran")));
  EXPECT_FALSE(QFile::exists(QStringLiteral("ran")));

  // Cancelled: nothing is launched.
  {
    ModalWatcher watcher;  // rejects the dialog
    item("OpenFile1")->trigger();
    EXPECT_EQ(watcher.seen().size(), 1u);
  }
  testsupport::pumpFor(300);
  EXPECT_EQ(opener.calls().size(), 2u);
}

TEST_F(MainWindowTest, PlayAviAndHelpLinksSayWhyNothingOpened) {
  {
    // xdg-open finds no program for the recording.
    RecordingOpener opener(3);
    const QString clip = makeFile(opener.folder(), QStringLiteral("clip.avi"));
    const PickFile pick{opener.folder(), QStringLiteral("clip.avi")};
    ModalWatcher watcher([&](QWidget* w) {
      if (qobject_cast<QFileDialog*>(w))
        pick(w);
      else
        ModalWatcher::acceptDefault(w);
    });
    item("OpenFile1")->trigger();
    ASSERT_EQ(watcher.seen().size(), 2u);
    EXPECT_EQ(watcher.seen()[1].className, QStringLiteral("QMessageBox"));
    EXPECT_EQ(watcher.seen()[1].text,
              "Cannot open the recording " + clip + ": no program is set up to open this kind of file.");
  }
  {
    // No xdg-open at all: the help page is named by its path.
    const std::string savedPath = std::getenv("PATH");
    testsupport::TempDir empty;
    setenv("PATH", empty.path().toStdString().c_str(), 1);
    ModalWatcher watcher;
    item("OnlineHelp3")->trigger();
    setenv("PATH", savedPath.c_str(), 1);
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].text,
              "Cannot open the help page " + QUrl(helpPageUrl(QStringLiteral("index.html"))).toLocalFile() +
                  ": xdg-open, which opens files with the desktop's programs, is not installed or not on the PATH.");
  }
}
